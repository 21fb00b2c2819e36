#include "platform/text_mode_file.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_files.h"

using namespace quillon;

namespace {

// Reads the whole file through TextModeFile in pieces of `piece` characters, copied (Read)
// and then in place (ReadView); both must give the same text.
std::string ReadAll(const std::string& path, std::size_t piece) {
    std::string texts[2];
    for (const bool inPlace : {false, true}) {
        TextModeFile file;
        EXPECT_TRUE(file.Open(path));
        std::vector<std::uint8_t> buffer(piece);
        for (;;) {
            const std::uint8_t* from = buffer.data();
            const long got =
                inPlace ? file.ReadView(from, piece) : file.Read(buffer.data(), buffer.size());
            EXPECT_GE(got, 0);
            if (got <= 0) {
                break;
            }
            texts[inPlace].append(reinterpret_cast<const char*>(from),
                                  static_cast<std::size_t>(got));
        }
    }
    EXPECT_EQ(texts[0], texts[1]) << "in place";
    return texts[0];
}

TEST(TextModeFileTest, TranslatesLineEndsAndStopsAtCtrlZ) {
    TempDir dir;
    struct Case {
        std::string raw;
        std::string text;
    };
    const Case cases[] = {
        {"a\r\nb\r\n", "a\nb\n"},
        {"a\rb\r", "a\rb\r"},    // a lone CR stays
        {"a\r\r\nb", "a\r\nb"},  // only the CR right before the LF goes
        {"ab\x1A"
         "cd\r\n",
         "ab"},  // Ctrl-Z ends the file
        {"\x1A", ""},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases) {
        const std::string path = dir.Write("f.txt", c.raw);
        for (std::size_t piece : {1u, 2u, 3u, 512u}) {
            EXPECT_EQ(ReadAll(path, piece), c.text) << "piece " << piece;
        }
    }
}

TEST(TextModeFileTest, CrLfSplitAcrossTheInternalBlock) {
    TempDir dir;
    // The internal block is 64 KiB: put the CR as its last byte and the LF first in the next.
    std::string raw(64 * 1024 - 1, 'x');
    raw += "\r\ny\r";
    std::string expected(64 * 1024 - 1, 'x');
    expected += "\ny\r";
    const std::string path = dir.Write("f.txt", raw);
    EXPECT_EQ(ReadAll(path, 512), expected);
    EXPECT_EQ(ReadAll(path, 7), expected);
}

TEST(TextModeFileTest, MissingFileDoesNotOpen) {
    TempDir dir;
    TextModeFile file;
    EXPECT_FALSE(file.Open((dir.path() / "missing").string()));
    EXPECT_FALSE(file.IsOpen());
}

}  // namespace
