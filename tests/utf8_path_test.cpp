#include "platform/utf8_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "image/hex_reader.h"
#include "image/monitor_file_catalog.h"
#include "platform/executable_path.h"
#include "platform/text_mode_file.h"
#include "tests/support/hex_text.h"
#include "tests/support/monitor_file.h"
#include "tests/support/test_files.h"

using namespace quillon;

// Paths are UTF-8 text everywhere in the program; files in folders with names beyond ASCII
// must open on every platform (on Windows the 8-bit code page cannot even spell most of them).

namespace {

namespace fs = std::filesystem;

const std::string kFolder = "Prüfstand Ω 中文";

std::string WriteFile(const fs::path& file, const std::string& content) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return Utf8FromPath(file);
}

TEST(Utf8Path, ConversionsKeepEveryCharacter) {
    const std::string text = "C:/" + kFolder + "/Ünïcödé €.hex";
    EXPECT_EQ(Utf8FromPath(PathFromUtf8(text)), text);
    EXPECT_EQ(Utf8FromPath(PathFromUtf8(text).filename()), "Ünïcödé €.hex");
    EXPECT_EQ(Utf8FromPath(PathFromUtf8(text).stem()), "Ünïcödé €");
}

TEST(Utf8Path, ImageAndMonitorFilesOpenInFoldersOfAnyName) {
    TempDir dir;
    const fs::path folder = dir.path() / PathFromUtf8(kFolder);
    fs::create_directories(folder);

    const std::string image = WriteFile(folder / PathFromUtf8("Bild ü.hex"),
                                        hex_text::Data(0x0010, {0xA1, 0xB2}) + hex_text::End());
    TextModeFile file;
    EXPECT_TRUE(file.Open(image));
    const HexReadResult read = ReadHexFile(image);
    ASSERT_TRUE(read) << read.error().text;
    EXPECT_EQ(read->image.Byte(0, 0x11), 0xB2);
    const HexReadResult missing = ReadHexFile(Utf8FromPath(folder / PathFromUtf8("fehlt ü.hex")));
    EXPECT_EQ(ReaderMessages(missing), std::vector<std::string>{"Datei nicht vorhanden!"});

    MonitorFileSpec spec;
    spec.targetName = "Board";
    WriteFile(folder / PathFromUtf8("Mon_Zielsystem ä.h86"), spec.HexText());
    WriteFile(folder / PathFromUtf8("Mon_Ohne Kopf ö.h86"), hex_text::End());
    const auto entries = ListMonitorFiles(Utf8FromPath(folder));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].displayName, "Board");
    EXPECT_EQ(entries[1].displayName, "Ohne Kopf ö") << "the name from the file name";
    for (const MonitorFileEntry& entry : entries) {
        EXPECT_TRUE(ReadHexFile(entry.path).has_value()) << entry.path;
    }
}

TEST(Utf8Path, ExecutableDirectoryIsAFolderThatExists) {
    const std::string folder = ExecutableDirectory();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(fs::is_directory(PathFromUtf8(folder))) << folder;
}

}  // namespace
