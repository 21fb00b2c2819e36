#include "image/monitor_file_catalog.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/monitor_file.h"
#include "tests/support/test_files.h"

namespace {

std::vector<std::string> Names(const std::vector<MonitorFileEntry>& entries) {
    std::vector<std::string> names;
    for (const auto& e : entries) {
        names.push_back(e.displayName);
    }
    return names;
}

TEST(MonitorFileCatalogTest, NamesComeFromHeadersElseFromFileNames) {
    TempDir dir;
    MessageRecorder boxes;
    MonitorFileSpec board;
    board.targetName = std::string("Board \xFC", 7);  // Windows-1252 "ü"
    dir.Write("one.h86", board.HexText());
    MonitorFileSpec incompatible;
    incompatible.specification = 171;
    dir.Write("Mon_Board_B.H86", incompatible.HexText());
    dir.Write("A_B_C.h86", ":00000001FF\n");       // no header
    dir.Write("plain.h86", ":0100000011ZZ\n");     // cannot be read
    dir.Write("zeta_Alpha.h86", ":00000001FF\n");  // sorts by its name, not its file name
    dir.Write("other.hex", board.HexText());       // not a monitor file
    dir.Write("notes.txt", "x");
    std::filesystem::create_directory(dir.path() / "folder.h86");

    const auto entries = ListMonitorFiles(dir.path().string());
    EXPECT_EQ(Names(entries),
              (std::vector<std::string>{"Alpha", "B_C", "Board \xC3\xBC", "Board_B", "plain"}));
    for (const auto& e : entries) {
        EXPECT_TRUE(std::filesystem::exists(e.path)) << e.path;
    }
    EXPECT_EQ(boxes.messages().size(), 2u) << "the unreadable file's messages are shown";
}

TEST(MonitorFileCatalogTest, EqualNamesKeepTheirOwnPathsAndAMissingFolderIsEmpty) {
    TempDir dir;
    MessageRecorder boxes;
    MonitorFileSpec spec;
    dir.Write("b.h86", spec.HexText());
    dir.Write("a.h86", spec.HexText());
    const auto entries = ListMonitorFiles(dir.path().string());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].displayName, entries[1].displayName);
    EXPECT_NE(entries[0].path, entries[1].path);
    EXPECT_TRUE(ListMonitorFiles((dir.path() / "missing").string()).empty());
    EXPECT_EQ(TargetNameFromFileName("/x/Mon_BoardA_40MHz.h86"), "BoardA_40MHz");
    EXPECT_EQ(TargetNameFromFileName("X.h86"), "X");
}

}  // namespace
