#include "image/hex_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/sha256.h"
#include "tests/support/hex_text.h"
#include "tests/support/test_files.h"

using namespace quillon;

namespace {

using Messages = std::vector<std::string>;

class HexReaderTest : public ::testing::Test {
protected:
    // Writes `content` to a file, reads it and returns 1 when it read well, else 0.
    int Load(const std::string& content) { return LoadPath(m_dir.Write("image.hex", content)); }
    int LoadPath(const std::string& path, const StopCheck& stop = {}) {
        m_last = ReadHexFile(path, stop);
        const Messages texts = ReaderMessages(m_last);
        m_messages.insert(m_messages.end(), texts.begin(), texts.end());
        return m_last.has_value() ? 1 : 0;
    }

    // The texts of every read so far, in order.
    const Messages& messages() const { return m_messages; }
    // The image of the last read; of one that failed, what it stored before it stopped.
    const HexImage& image() const { return m_last ? m_last->image : m_last.error().storedBefore; }

    void ExpectBytes(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const std::uint32_t a = address + static_cast<std::uint32_t>(i);
            ASSERT_EQ(image().Byte(static_cast<int>(a >> 16), a & 0xFFFF), bytes[i])
                << "at address 0x" << std::hex << a;
        }
    }

    bool AllSegmentsEmpty() const {
        for (int s = 0; s < HexImage::kSegmentCount; ++s) {
            if (image().FillMark(s) != 0) {
                return false;
            }
        }
        return true;
    }

    TempDir m_dir;
    HexReadResult m_last;
    Messages m_messages;
};

// --- Records that load -----------------------------------------------------------------------

TEST_F(HexReaderTest, DataRecordStoresItsBytesAndRaisesTheFillMark) {
    EXPECT_EQ(Load(":0300300002337A1E\n:00000001FF\n"), 1);
    EXPECT_TRUE(messages().empty());
    ExpectBytes(0x30, {0x02, 0x33, 0x7A});
    EXPECT_EQ(image().Byte(0, 0x2F), 0xFF);
    EXPECT_EQ(image().Byte(0, 0x33), 0xFF);
    EXPECT_EQ(image().FillMark(0), 0x32);
}

TEST_F(HexReaderTest, EndRecordOnlyLeavesEverySegmentEmpty) {
    EXPECT_EQ(Load(":00000001FF\n"), 1);
    EXPECT_TRUE(messages().empty());
    EXPECT_TRUE(AllSegmentsEmpty());
}

TEST_F(HexReaderTest, MissingEndRecordSaysFileEndedAndSucceeds) {
    EXPECT_EQ(Load(hex_text::Data(0x10, {1, 2, 3})), 1);
    EXPECT_EQ(messages(), Messages{"Datei beendet"});
    ExpectBytes(0x10, {1, 2, 3});
}

TEST_F(HexReaderTest, LastRecordWithoutLineEndStillLoads) {
    // An end record as the file's very last characters: no message at all.
    EXPECT_EQ(Load(hex_text::Data(0, {9, 8}) + hex_text::Record(0x01, 0, {})), 1);
    EXPECT_TRUE(messages().empty());
    ExpectBytes(0, {9, 8});

    // A data record as the last characters: only the end of the file is reported.
    m_messages.clear();
    EXPECT_EQ(Load(hex_text::Record(0x00, 0x100, {7, 6, 5})), 1);
    EXPECT_EQ(messages(), Messages{"Datei beendet"});
    ExpectBytes(0x100, {7, 6, 5});
    EXPECT_EQ(image().FillMark(0), 0x102);
}

TEST_F(HexReaderTest, LowerCaseDigitsLoadLikeUpperCase) {
    EXPECT_EQ(Load(":04abcd00deadbeef4c\n:00000001ff\n"), 1);
    EXPECT_TRUE(messages().empty());
    ExpectBytes(0xABCD, {0xDE, 0xAD, 0xBE, 0xEF});
}

TEST_F(HexReaderTest, CrLfAndLfLineEndsLoadAlike) {
    const std::string lf =
        hex_text::Data(0x40, {1, 2}) + hex_text::Data(0x42, {3}) + hex_text::End();
    std::string crlf;
    for (char c : lf) {
        if (c == '\n') {
            crlf += '\r';
        }
        crlf += c;
    }
    EXPECT_EQ(Load(crlf), 1);
    EXPECT_TRUE(messages().empty());
    ExpectBytes(0x40, {1, 2, 3});
    EXPECT_EQ(image().FillMark(0), 0x42);
}

TEST_F(HexReaderTest, CtrlZEndsTheFile) {
    const std::string file = hex_text::Data(0, {0x11}) + "\x1A" + hex_text::Data(0x10, {0x22});
    EXPECT_EQ(Load(file), 1);
    EXPECT_EQ(messages(), Messages{"Datei beendet"});
    EXPECT_EQ(image().Byte(0, 0), 0x11);
    EXPECT_EQ(image().Byte(0, 0x10), 0xFF);
}

TEST_F(HexReaderTest, TextBetweenRecordsIsSkippedWhateverItHolds) {
    std::string noise(1500, 'x');  // longer than a chunk
    noise[100] = '\0';             // a NUL byte ahead of the next mark
    noise.replace(700, 5, std::string("\0\0\0\0\0", 5));
    const std::string file = "leading words " + hex_text::Data(0, {1}) + noise +
                             hex_text::Data(1, {2}) + std::string(600, '\0') +
                             hex_text::Data(2, {3}) + hex_text::End();
    EXPECT_EQ(Load(file), 1);
    EXPECT_TRUE(messages().empty());
    ExpectBytes(0, {1, 2, 3});
}

TEST_F(HexReaderTest, RecordsNeedNotStandOnLinesOfTheirOwn) {
    const std::string file = hex_text::Record(0, 0, {1}) + hex_text::Record(0, 1, {2}) + " " +
                             hex_text::Record(1, 0, {});
    EXPECT_EQ(Load(file), 1);
    EXPECT_TRUE(messages().empty());
    ExpectBytes(0, {1, 2});
}

TEST_F(HexReaderTest, RecordSplitAcrossTheChunkBoundaryAtEveryPosition) {
    const auto data = hex_text::Pattern(32, 7);
    const std::string record = hex_text::Data(0x2000, data);
    // Pad so that the 512-character chunk boundary falls before each character of the record.
    for (std::size_t split = 0; split <= record.size(); ++split) {
        SCOPED_TRACE("boundary before character " + std::to_string(split));
        m_messages.clear();
        const std::string padding(512 - split, '\n');
        EXPECT_EQ(Load(padding + record + hex_text::End()), 1);
        EXPECT_TRUE(messages().empty());
        ExpectBytes(0x2000, data);
        EXPECT_EQ(image().FillMark(0), 0x2000 + 31);
    }
}

TEST_F(HexReaderTest, FillMarksDoNotDependOnRecordOrder) {
    const std::string a = hex_text::Data(0x0080, hex_text::Pattern(0x80, 1));
    const std::string b = hex_text::Data(0x0000, hex_text::Pattern(0x80, 2));
    const std::string c = hex_text::Data(0x00F0, hex_text::Pattern(0x10, 3));
    for (const std::string& file :
         {hex_text::Linear(3) + a + b + c, hex_text::Linear(3) + c + b + a,
          hex_text::Linear(3) + b + c + a + hex_text::End()}) {
        Load(file);
        EXPECT_EQ(image().FillMark(3), 0x00FF);
        EXPECT_EQ(image().FillMark(0), 0);
    }
}

TEST_F(HexReaderTest, AddressRecordsPlaceTheDataRecordsThatFollow) {
    const std::vector<std::uint8_t> bytes{0xA5};
    EXPECT_EQ(Load(hex_text::Segment(0x1000) + hex_text::Data(0x1234, bytes) +   //
                   hex_text::Segment(0x0800) + hex_text::Data(0x1234, {0xB6}) +  //
                   hex_text::Linear(0x00C0) + hex_text::Data(0x1234, {0xC7}) +   //
                   hex_text::Data(0x1235, {0xD8}) + hex_text::End()),
              1);
    EXPECT_EQ(image().Byte(1, 0x1234), 0xA5);
    EXPECT_EQ(image().Byte(0, 0x9234), 0xB6);
    EXPECT_EQ(image().Byte(0xC0, 0x1234), 0xC7);
    EXPECT_EQ(image().Byte(0xC0, 0x1235), 0xD8);
    EXPECT_EQ(image().FillMark(0xC0), 0x1235);
}

TEST_F(HexReaderTest, LinearAddressUpToSegment255IsAccepted) {
    EXPECT_EQ(Load(hex_text::Linear(0xFF) + hex_text::Data(0xFFFF, {0x42}) + hex_text::End()), 1);
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(image().Byte(255, 0xFFFF), 0x42);
    EXPECT_EQ(image().FillMark(255), 0xFFFF);
}

TEST_F(HexReaderTest, RecordPastOffsetFFFFContinuesIntoTheNextSegment) {
    // Base offset 0xFFF0 (segment base 0xFFFF) plus address 0x0008: 16 bytes from 0x0000FFF8.
    const auto bytes = hex_text::Pattern(16, 4);
    EXPECT_EQ(Load(hex_text::Segment(0x0FFF) + hex_text::Data(0x0008, bytes) + hex_text::End()), 1);
    EXPECT_TRUE(messages().empty());
    ExpectBytes(0x00FFF8, bytes);
    EXPECT_EQ(image().FillMark(0), 0xFFFF);
    EXPECT_EQ(image().FillMark(1), 0x0007);

    // A record address plus base offset beyond 0xFFFF starts in the next segment.
    EXPECT_EQ(Load(hex_text::Segment(0x0FFF) + hex_text::Data(0x0020, {1, 2}) + hex_text::End()),
              1);
    EXPECT_EQ(image().Byte(1, 0x0010), 1);
    EXPECT_EQ(image().FillMark(0), 0);
    EXPECT_EQ(image().FillMark(1), 0x0011);
}

TEST_F(HexReaderTest, RecordBeyondSixteenMegabytesIsRefusedWithoutWriting) {
    const std::string file =
        hex_text::Linear(0xFF) + hex_text::Data(0xFFF8, hex_text::Pattern(16, 5)) + hex_text::End();
    EXPECT_EQ(Load(file), 0);
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_NE(messages()[0].find("0xFFFFF8"), std::string::npos) << messages()[0];
    EXPECT_NE(messages()[0].find("16 Bytes"), std::string::npos) << messages()[0];
    EXPECT_EQ(image().Byte(255, 0xFFF8), 0xFF);
    EXPECT_EQ(image().FillMark(255), 0);
}

TEST_F(HexReaderTest, EmptyDataRecordStoresNothing) {
    EXPECT_EQ(Load(hex_text::Data(0x0400, {}) + hex_text::Data(0x0000, {}) + hex_text::End()), 1);
    EXPECT_TRUE(messages().empty());
    EXPECT_TRUE(AllSegmentsEmpty());
    EXPECT_EQ(image().Byte(0, 0x0400), 0xFF);
}

TEST_F(HexReaderTest, ShortAddressRecordsTakeMissingBytesAsZero) {
    // Type 02 with one data byte 0x10: v = 0x1000, segment 1.
    EXPECT_EQ(Load(hex_text::Record(0x02, 0, {0x10}) + "\n" + hex_text::Data(0x20, {0x77}) +
                   hex_text::End()),
              1);
    EXPECT_EQ(image().Byte(1, 0x20), 0x77);
    // Type 04 with no data bytes after a type 04 to segment 9: v = 0, back to segment 0.
    EXPECT_EQ(Load(hex_text::Linear(9) + hex_text::Record(0x04, 0, {}) + "\n" +
                   hex_text::Data(0x20, {0x66}) + hex_text::End()),
              1);
    EXPECT_EQ(image().Byte(0, 0x20), 0x66);
    EXPECT_EQ(image().FillMark(9), 0);
    EXPECT_TRUE(messages().empty());
}

TEST_F(HexReaderTest, UnknownRecordTypesAreReportedAndPassedOver) {
    std::string file = hex_text::Record(0x03, 0, {0, 0, 0, 0}) + "\n" +
                       hex_text::Record(0x05, 0, {0, 0, 1, 0}) + "\n";
    for (int type = 0x06; type <= 0xFF; ++type) {
        file += hex_text::Record(static_cast<std::uint8_t>(type), 0, {1}) + "\n";
    }
    file += hex_text::Data(0x10, {0x5A}) + hex_text::End();
    EXPECT_EQ(Load(file), 1);
    Messages expected{"Das unbekannte Protokoll 03, wird ignoriert!"};
    for (int type = 0x06; type <= 0xFF; ++type) {
        char text[64];
        std::snprintf(text, sizeof text, "Das unbekannte Protokoll %02X, wird ignoriert!", type);
        expected.push_back(text);
    }
    EXPECT_EQ(messages(), expected);
    EXPECT_EQ(image().Byte(0, 0x10), 0x5A);
}

// --- Failures ---------------------------------------------------------------------------------

TEST_F(HexReaderTest, MissingFileSaysSoAndStillClearsTheMemory) {
    ASSERT_EQ(Load(hex_text::Data(0x10, {1}) + hex_text::End()), 1);
    EXPECT_EQ(LoadPath((m_dir.path() / "no-such-file.hex").string()), 0);
    EXPECT_EQ(messages(), Messages{"Datei nicht vorhanden!"});
    EXPECT_EQ(image().Byte(0, 0x10), 0xFF);
    EXPECT_TRUE(AllSegmentsEmpty());
}

TEST_F(HexReaderTest, EmptyFileIsRefused) {
    EXPECT_EQ(Load(""), 0);
    EXPECT_EQ(Load("\x1A:00000001FF\n"), 0);  // nothing before the Ctrl-Z
    EXPECT_EQ(messages(), (Messages{"Die Datei ist leer!", "Die Datei ist leer!"}));
}

TEST_F(HexReaderTest, AnythingButARegularFileIsRefusedUnopened) {
    // A folder; on POSIX systems also a device that never ends and a FIFO that would block
    // the open.
    std::vector<std::string> paths = {m_dir.path().string()};
#ifndef _WIN32
    const std::string fifo = (m_dir.path() / "pipe.hex").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    paths.insert(paths.end(), {"/dev/zero", fifo});
#endif
    for (const std::string& path : paths) {
        EXPECT_EQ(LoadPath(path), 0) << path;
    }
    EXPECT_EQ(messages(), Messages(paths.size(), "Fehler beim Öffnen der Quelldatei!"));
}

TEST_F(HexReaderTest, FileWithoutASingleRecordIsNoImage) {
    const std::string noRecord = "Die Datei enthält keinen einzigen HEX-Datensatz!";
    EXPECT_EQ(Load("S00600004844521B\nS1070000010203F2\nS9030000FC\n"), 0);
    EXPECT_EQ(Load(std::string(3000, '\x7F')), 0);
    EXPECT_EQ(messages(), (Messages{"Datei beendet", noRecord, "Datei beendet", noRecord}));
}

TEST_F(HexReaderTest, AbortRequestEndsTheLoadAtTheNextChunk) {
    // The stop comes after the first chunk; the data a later chunk holds is never stored, and
    // the read ends without a text of its own.
    int asked = 0;
    const std::string file = hex_text::Record(0x03, 0, {0, 0, 0, 0}) + std::string(600, ' ') +
                             hex_text::Data(0x10, {0x55}) + hex_text::End();
    EXPECT_EQ(LoadPath(m_dir.Write("image.hex", file), [&asked] { return ++asked > 1; }), 0);
    ASSERT_FALSE(m_last.has_value());
    EXPECT_EQ(m_last.error().kind, HexErrorKind::kAborted);
    EXPECT_EQ(m_last.error().text, "");
    EXPECT_EQ(image().Byte(0, 0x10), 0xFF);
    EXPECT_EQ(messages(), Messages{"Das unbekannte Protokoll 03, wird ignoriert!"});
}

// The error says what kind of fault ended the read and on which line; the digest is of every
// byte read (after the end record and a Ctrl-Z too), and only of a read that went well.
TEST_F(HexReaderTest, ErrorsNameTheirKindAndLineAndTheDigestIsOfTheBytesRead) {
    struct Case {
        std::string content;
        std::optional<HexErrorKind> kind;
        int line;
    };
    const std::string good = hex_text::Data(0, {1, 2}) + hex_text::End();
    // Records in CR LF lines over several of the digest's blocks, read into them in place.
    std::string large;
    for (unsigned i = 0; i < 16384; ++i) {
        const std::string record =
            hex_text::Data(static_cast<std::uint16_t>(i * 8), hex_text::Pattern(8, i));
        large.append(record, 0, record.size() - 1);  // its line end made CR LF
        large += "\r\n";
    }
    const std::vector<Case> cases = {
        {good + "trailing text\x1A and more", std::nullopt, 0},
        {large + hex_text::End() + std::string(300000, 'x'), std::nullopt, 0},
        {"", HexErrorKind::kEmpty, 1},
        {hex_text::Data(0, {1}) + "\n\n:0100G00011EE\n", HexErrorKind::kBadRecord, 4},
        {hex_text::Data(0, {1}) + ":0100", HexErrorKind::kTruncated, 2},
        {hex_text::Linear(0x100) + hex_text::End(), HexErrorKind::kOutOfRange, 1},
        {"no records\n", HexErrorKind::kNoRecord, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        const std::string path = m_dir.Write("image.hex", c.content);
        LoadPath(path);
        if (!c.kind) {
            ASSERT_TRUE(m_last.has_value());
            std::string digest;
            ASSERT_TRUE(Sha256OfFile(path, digest));
            EXPECT_EQ(m_last->sha256, digest);
            continue;
        }
        // A read that failed carries no image and no digest, only its error.
        ASSERT_FALSE(m_last.has_value());
        EXPECT_EQ(m_last.error().kind, *c.kind);
        EXPECT_EQ(m_last.error().line, c.line);
    }
    LoadPath((m_dir.path() / "missing.hex").string());
    ASSERT_FALSE(m_last.has_value());
    EXPECT_EQ(m_last.error().kind, HexErrorKind::kFileMissing);
    EXPECT_EQ(m_last.error().line, 0);
}

TEST_F(HexReaderTest, TruncatedRecordSaysFileEndedThenTruncated) {
    const std::string full = hex_text::Record(0x00, 0x1234, {0xAB, 0xCD});
    // Cut inside the count, address, type, data and checksum fields.
    for (std::size_t cut : std::vector<std::size_t>{1, 2, 4, 8, 10, 13, full.size() - 1}) {
        SCOPED_TRACE("cut after " + std::to_string(cut) + " characters");
        m_messages.clear();
        EXPECT_EQ(Load(hex_text::Data(0, {1}) + full.substr(0, cut)), 0);
        EXPECT_EQ(messages(), (Messages{"Datei beendet", "Datei wurde abgeschnitten"}));
        EXPECT_EQ(image().Byte(0, 0), 1);
    }
}

TEST_F(HexReaderTest, BadCharacterNamesItselfThenItsField) {
    struct Case {
        std::string record;
        Messages expected;
    };
    const std::vector<Case> cases{
        {": 0000001FF\n",
         {"Fehler bei der Satzanalyse : Nr. ' '!",
          "Fehler bei der Satzanalyse : 'ungültige Strukturlänge'"}},
        {":0100G00011EE\n",
         {"Fehler bei der Satzanalyse : Nr. 'G'!",
          "Fehler bei der Satzanalyse : 'falscher Struktur Offset'!"}},
        {":010000x011EE\n",
         {"Fehler bei der Satzanalyse : Nr. 'x'!", "Fehler bei der Satzanalyse : Strukturlänge"}},
        {":0300000011Z233BA\n",
         {"Fehler bei der Satzanalyse : Nr. 'Z'!",
          "Fehler bei der Satzanalyse : 'ungültiges Zeichen' 2 (3)"}},
        {":0100000011E-\n",
         {"Fehler bei der Satzanalyse : Nr. '-'!",
          "Fehler während der Textanalyse : Kontrollsumme"}},
        {":01000000\xE4"
         "1EE\n",
         {"Fehler bei der Satzanalyse : Nr. 'ä'!",
          "Fehler bei der Satzanalyse : 'ungültiges Zeichen' 1 (1)"}},
        {":01000000\r"
         "1EE\n",
         {"Fehler bei der Satzanalyse : Nr. '\r'!",
          "Fehler bei der Satzanalyse : 'ungültiges Zeichen' 1 (1)"}},
        // A NUL byte stays in the message instead of ending it.
        {std::string(":01000000\0"
                     "1EE\n",
                     14),
         {std::string("Fehler bei der Satzanalyse : Nr. '\0'!", 37),
          "Fehler bei der Satzanalyse : 'ungültiges Zeichen' 1 (1)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.record);
        m_messages.clear();
        EXPECT_EQ(Load(c.record), 0);
        EXPECT_EQ(messages(), c.expected);
    }
}

TEST_F(HexReaderTest, ChecksumErrorKeepsTheRecordsBeforeIt) {
    std::string file;
    for (int i = 0; i < 4; ++i) {
        file += hex_text::Data(static_cast<std::uint16_t>(i * 0x10),
                               {static_cast<std::uint8_t>(i + 1)});
    }
    file += hex_text::RecordWithBadChecksum(0x00, 0x40, {5}) + "\n";
    file += hex_text::Data(0x50, {6}) + hex_text::End();
    EXPECT_EQ(Load(file), 0);
    EXPECT_EQ(messages(), Messages{"Fehler"});
    EXPECT_EQ(image().Byte(0, 0x00), 1);
    EXPECT_EQ(image().Byte(0, 0x30), 4);
    EXPECT_EQ(image().Byte(0, 0x40), 0xFF);
    EXPECT_EQ(image().Byte(0, 0x50), 0xFF);
}

TEST_F(HexReaderTest, LinearAddressOf256OrMoreOverflows) {
    EXPECT_EQ(Load(hex_text::Linear(0x0100) + hex_text::Data(0, {1}) + hex_text::End()), 0);
    EXPECT_EQ(messages(),
              Messages{"Es kam zu einem Überlauf im erweiterten Speicherbereich : (0x100.0000 von "
                       "0x8.0000)!"});
    m_messages.clear();
    EXPECT_EQ(Load(hex_text::Linear(0xABCD) + hex_text::End()), 0);
    EXPECT_EQ(messages(),
              Messages{"Es kam zu einem Überlauf im erweiterten Speicherbereich : (0xABCD.0000 von "
                       "0x8.0000)!"});
}

TEST_F(HexReaderTest, LoadingAFileLeavesNothingOfTheOneBefore) {
    ASSERT_EQ(
        Load(hex_text::Linear(5) + hex_text::Data(0, hex_text::Pattern(64, 9)) + hex_text::End()),
        1);
    ASSERT_EQ(Load(hex_text::Data(0x10, {1}) + hex_text::End()), 1);
    EXPECT_EQ(image().FillMark(5), 0);
    EXPECT_EQ(image().Byte(5, 0), 0xFF);
    EXPECT_EQ(image().FillMark(0), 0x10);
}

}  // namespace
