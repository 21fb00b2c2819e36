#include "image/monitor_file_catalog.h"

#include <stdlib.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "image/target_folders.h"
#include "tests/support/monitor_file.h"
#include "tests/support/test_files.h"

using namespace quillon;

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
    std::vector<std::string> boxes;  // "file: text"
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
#ifndef _WIN32
    // A FIFO and a device are no monitor files: passed over, without waiting or reading forever.
    ASSERT_EQ(mkfifo((dir.path() / "pipe.h86").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir.path() / "zero.h86");
#endif

    const auto entries = ListMonitorFiles(
        dir.path().string(), [&boxes](const std::string& path, const std::string& text) {
            boxes.push_back(std::filesystem::path(path).filename().string() + ": " + text);
        });
    EXPECT_EQ(Names(entries),
              (std::vector<std::string>{"Alpha", "B_C", "Board \xC3\xBC", "Board_B", "plain"}));
    for (const auto& e : entries) {
        EXPECT_TRUE(std::filesystem::exists(e.path)) << e.path;
    }
    EXPECT_EQ(boxes, (std::vector<std::string>{
                         "plain.h86: Fehler bei der Satzanalyse : Nr. 'Z'!",
                         "plain.h86: Fehler während der Textanalyse : Kontrollsumme"}))
        << "the unreadable file's messages are passed on, naming it";
}

TEST(MonitorFileCatalogTest, EqualNamesKeepTheirOwnPathsAndAMissingFolderIsEmpty) {
    TempDir dir;
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

#ifndef _WIN32
// The user's folder is a POSIX desktop's (on Windows monitor files go beside the program).
TEST(TargetFoldersTest, UserFolderFromTheEnvironment) {
    EXPECT_EQ(UserTargetsFolder("/x/data", "/home/u"), "/x/data/quillon/Targets");
    EXPECT_EQ(UserTargetsFolder("relative", "/home/u"), "/home/u/.local/share/quillon/Targets");
    EXPECT_EQ(UserTargetsFolder("", "/home/u/"), "/home/u/.local/share/quillon/Targets");
    EXPECT_EQ(UserTargetsFolder("", ""), "");
}

// An installed tree (bin/, share/quillon/Targets, share/doc/quillon) and a build folder
// (Targets and the PDF beside the program), with and without a user's folder; a name from the
// user's folder hides the same name from the others.
TEST(TargetFoldersTest, BesideThenShareThenTheUsersFolder) {
    namespace fs = std::filesystem;
    TempDir root;
    const fs::path bin = root.path() / "bin";
    const fs::path share = root.path() / "share" / "quillon" / "Targets";
    const fs::path user = root.path() / "data" / "quillon" / "Targets";
    for (const fs::path& folder : {bin, share, user, root.path() / "share" / "doc" / "quillon"}) {
        fs::create_directories(folder);
    }
    const auto write = [](const fs::path& file, const std::string& name) {
        MonitorFileSpec spec;
        spec.targetName = name;
        std::ofstream(file, std::ios::binary) << spec.HexText();
    };
    write(share / "a.h86", "Board A");
    write(share / "b.h86", "Board B");
    write(user / "mine.h86", "board a");
    std::ofstream(root.path() / "share" / "doc" / "quillon" / "help.pdf") << "%PDF";
    const std::string data = (root.path() / "data").string();
    setenv("XDG_DATA_HOME", data.c_str(), 1);

    TargetFolders folders = FindTargetFolders(bin.string());
    EXPECT_EQ(folders.system, std::vector<std::string>{share.lexically_normal().string()});
    EXPECT_EQ(folders.user, user.string());
    std::vector<HiddenTarget> hidden;
    const auto entries = ListTargetFolders(folders, &hidden);
    EXPECT_EQ(Names(entries), (std::vector<std::string>{"board a", "Board B"}));
    ASSERT_EQ(hidden.size(), 1u);
    EXPECT_EQ(hidden[0].hidden.path, (share / "a.h86").lexically_normal().string());
    EXPECT_EQ(hidden[0].by.path, (user / "mine.h86").string());
    EXPECT_EQ(FindShippedFile(bin.string(), "help.pdf"),
              (root.path() / "share" / "doc" / "quillon" / "help.pdf").string());

    // The build folder's layout comes first; no user's folder, nothing hidden.
    fs::create_directories(bin / "Targets");
    write(bin / "Targets" / "c.h86", "Board C");
    std::ofstream(bin / "help.pdf") << "%PDF";
    setenv("XDG_DATA_HOME", (root.path() / "nowhere").c_str(), 1);
    folders = FindTargetFolders(bin.string());
    EXPECT_EQ(folders.system, (std::vector<std::string>{(bin / "Targets").string(),
                                                        share.lexically_normal().string()}));
    EXPECT_EQ(folders.user, "");
    hidden.clear();
    EXPECT_EQ(Names(ListTargetFolders(folders, &hidden)),
              (std::vector<std::string>{"Board A", "Board B", "Board C"}));
    EXPECT_TRUE(hidden.empty());
    EXPECT_EQ(FindShippedFile(bin.string(), "help.pdf"), (bin / "help.pdf").string());
    unsetenv("XDG_DATA_HOME");
}
#endif

}  // namespace
