#include "image/monitor_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/monitor_file.h"
#include "tests/support/hex_text.h"
#include "tests/support/test_files.h"

using namespace quillon;

namespace {

// The image the headers are stored in and searched.
HexImage theImage;

// A header's byte image, built field by field at the offsets of the format.
struct HeaderBytes {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(172, 0);

    HeaderBytes(const char* signature = "MONITOR", std::uint16_t specification = 172) {
        std::memcpy(bytes.data(), signature, 7);
        Put16(8, specification);
        Put16(10, 1);  // loader segment
        Put16(12, 2);  // monitor segment
        bytes[14] = 0x00;
        bytes[15] = 0xC5;
        Put16(16, 32);
        bytes[18] = 0x01;
        Name(70, "Test Target", 100);
        Put16(170, 8);
    }
    void Put16(std::size_t at, std::uint16_t v) {
        bytes[at] = static_cast<std::uint8_t>(v);
        bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    void Name(std::size_t at, const std::string& name, std::size_t field) {
        std::memset(bytes.data() + at, 0, field);
        std::memcpy(bytes.data() + at, name.data(), std::min(name.size(), field));
    }
    HeaderBytes& FlashTypes(std::vector<std::string> names) {
        bytes[19] = static_cast<std::uint8_t>(names.size());
        for (std::size_t k = 0; k < names.size() && k < 10; ++k) {
            Name(20 + 5 * k, names[k], 5);
        }
        return *this;
    }
    void StoreAt(int segment) const {
        ASSERT_TRUE(theImage.Store(segment, 0, bytes.data(), bytes.size()));
    }
};

class MonitorHeaderTest : public ::testing::Test {
protected:
    void SetUp() override { theImage = HexImage{}; }
};

TEST_F(MonitorHeaderTest, NoSignatureAnywhere) {
    const MonitorHeaderSearch search = SearchMonitorHeader(theImage);
    EXPECT_EQ(search.status, MonitorHeaderStatus::kNoSignature);
    EXPECT_EQ(search.segment, -1);
}

TEST_F(MonitorHeaderTest, SignatureIsFoundInAnyLetterCase) {
    for (const char* signature : {"MONITOR", "monitor", "Monitor", "mOnItOr"}) {
        theImage = HexImage{};
        HeaderBytes(signature).StoreAt(4);
        const MonitorHeaderSearch search = SearchMonitorHeader(theImage);
        EXPECT_EQ(search.status, MonitorHeaderStatus::kAccepted) << signature;
        EXPECT_EQ(search.segment, 4);
    }
    // Only letters fold: a byte 0x20 apart that is not a letter does not match.
    theImage = HexImage{};
    HeaderBytes("MONITO\x12").StoreAt(4);
    EXPECT_EQ(SearchMonitorHeader(theImage).status, MonitorHeaderStatus::kNoSignature);
}

TEST_F(MonitorHeaderTest, FirstSignatureDecidesEvenWhenItIsIncompatible) {
    HeaderBytes("MONITOR", 170).StoreAt(5);
    HeaderBytes("MONITOR", 172).StoreAt(9);
    EXPECT_EQ(SearchMonitorHeader(theImage).segment, 5);

    theImage = HexImage{};
    HeaderBytes("MONITOR", 171).StoreAt(3);
    HeaderBytes("MONITOR", 172).StoreAt(5);
    const MonitorHeaderSearch search = SearchMonitorHeader(theImage);
    EXPECT_EQ(search.status, MonitorHeaderStatus::kIncompatible);
    EXPECT_EQ(search.segment, 3);
    EXPECT_EQ(search.specification, 171);
}

TEST_F(MonitorHeaderTest, SpecificationIsLittleEndian) {
    HeaderBytes header;
    header.bytes[8] = 0xAA;
    header.bytes[9] = 0x00;
    header.StoreAt(0);
    EXPECT_EQ(SearchMonitorHeader(theImage).status, MonitorHeaderStatus::kAccepted);
    EXPECT_EQ(SearchMonitorHeader(theImage).specification, 170);

    header.bytes[8] = 0x00;
    header.bytes[9] = 0xAA;
    header.StoreAt(0);
    EXPECT_EQ(SearchMonitorHeader(theImage).status, MonitorHeaderStatus::kIncompatible);
    EXPECT_EQ(SearchMonitorHeader(theImage).specification, 0xAA00);
}

TEST_F(MonitorHeaderTest, ShortFormCopyHasNoEraseAllSectorCount) {
    HeaderBytes header("MONITOR", 170);
    header.Put16(170, 0x1234);  // bytes after a short header are not part of it
    header.StoreAt(2);
    const MonitorHeader copy = CopyMonitorHeader(SearchMonitorHeader(theImage), theImage);
    EXPECT_EQ(copy.specification, 170);
    EXPECT_EQ(copy.eraseAllSectorCount, 0);
    EXPECT_EQ(TargetNameOf(copy), "Test Target");

    HeaderBytes("MONITOR", 172).StoreAt(2);
    const MonitorHeader longCopy = CopyMonitorHeader(SearchMonitorHeader(theImage), theImage);
    EXPECT_EQ(longCopy.eraseAllSectorCount, 8);
    EXPECT_EQ(longCopy.loaderSegment, 1);
    EXPECT_EQ(longCopy.monitorSegment, 2);
    EXPECT_EQ(longCopy.identByte, 0xC5);
    EXPECT_EQ(longCopy.level0Length, 32);
}

TEST_F(MonitorHeaderTest, SegmentNumbersOutsideTheImageAreIncompatible) {
    HeaderBytes loader;
    loader.Put16(10, 256);
    loader.StoreAt(0);
    EXPECT_EQ(SearchMonitorHeader(theImage).status, MonitorHeaderStatus::kIncompatible);

    HeaderBytes monitor;
    monitor.Put16(12, 0xFFFF);
    monitor.StoreAt(0);
    EXPECT_EQ(SearchMonitorHeader(theImage).status, MonitorHeaderStatus::kIncompatible);

    HeaderBytes edge;
    edge.Put16(10, 255);
    edge.Put16(12, 255);
    edge.StoreAt(0);
    EXPECT_EQ(SearchMonitorHeader(theImage).status, MonitorHeaderStatus::kAccepted);
}

TEST_F(MonitorHeaderTest, TargetNameIsCutAtItsField) {
    HeaderBytes header;
    header.Name(70, std::string(100, 'N'), 100);
    header.Put16(170, 0x4141);  // "AA" right behind a name without NUL
    header.StoreAt(0);
    const MonitorHeader copy = CopyMonitorHeader(SearchMonitorHeader(theImage), theImage);
    EXPECT_EQ(TargetNameOf(copy), std::string(100, 'N'));
}

TEST_F(MonitorHeaderTest, FlashTypeLookup) {
    HeaderBytes header;
    header.FlashTypes({"AM29", "F16", "SST4"}).StoreAt(0);
    const MonitorHeader copy = CopyMonitorHeader(SearchMonitorHeader(theImage), theImage);
    EXPECT_TRUE(IsFlashTypeInHeader(copy, "AM29"));
    EXPECT_TRUE(IsFlashTypeInHeader(copy, "SST4"));
    EXPECT_TRUE(IsFlashTypeInHeader(copy, "F16"));
    EXPECT_FALSE(IsFlashTypeInHeader(copy, "F16 "));  // only an equally short name matches
    EXPECT_FALSE(IsFlashTypeInHeader(copy, "F1"));
    EXPECT_FALSE(IsFlashTypeInHeader(copy, "am29"));  // case matters
    EXPECT_FALSE(IsFlashTypeInHeader(copy, ""));

    header.bytes[19] = 0;  // no entries in use
    header.StoreAt(0);
    EXPECT_FALSE(
        IsFlashTypeInHeader(CopyMonitorHeader(SearchMonitorHeader(theImage), theImage), "AM29"));

    header.bytes[19] = 2;  // the third slot is not in use
    header.StoreAt(0);
    EXPECT_FALSE(
        IsFlashTypeInHeader(CopyMonitorHeader(SearchMonitorHeader(theImage), theImage), "SST4"));
}

TEST_F(MonitorHeaderTest, AtMostTenFlashTypeSlotsAreLookedAt) {
    HeaderBytes header;
    header.FlashTypes({"T0", "T1", "T2", "T3", "T4", "T5", "T6", "T7", "T8", "T9"});
    header.bytes[19] = 200;
    header.Name(70, "XTRA", 100);  // where an eleventh slot would be
    header.StoreAt(0);
    const MonitorHeader copy = CopyMonitorHeader(SearchMonitorHeader(theImage), theImage);
    EXPECT_TRUE(IsFlashTypeInHeader(copy, "T9"));
    EXPECT_FALSE(IsFlashTypeInHeader(copy, "XTRA"));

    // A slot without NUL reads as its five bytes.
    header.Name(20, "ABCDE", 5);
    header.StoreAt(0);
    EXPECT_TRUE(
        IsFlashTypeInHeader(CopyMonitorHeader(SearchMonitorHeader(theImage), theImage), "ABCDE"));
}

TEST_F(MonitorHeaderTest, HeaderFromAMonitorFile) {
    TempDir dir;
    HeaderBytes header("Monitor", 172);
    std::string file = hex_text::Linear(0x10);
    for (std::size_t at = 0; at < header.bytes.size(); at += 16) {
        const std::vector<std::uint8_t> part(
            header.bytes.begin() + static_cast<long>(at),
            header.bytes.begin() + static_cast<long>(std::min(at + 16, header.bytes.size())));
        file += hex_text::Data(static_cast<std::uint16_t>(at), part);
    }
    file += hex_text::End();
    const MonitorFileRead read = LoadMonitorFile(dir.Write("target.h86", file));
    ASSERT_TRUE(read.read.has_value());
    EXPECT_EQ(read.status, MonitorHeaderStatus::kAccepted);
    ASSERT_TRUE(read.file);
    EXPECT_EQ(DisplayNameOf(read.file->header), "Test Target");
    EXPECT_EQ(read.file->image.FillMark(0x10), header.bytes.size() - 1);
    EXPECT_TRUE(ReaderMessages(read.read).empty());

    // A file the reader cannot read has no header to look for; one without a signature has
    // none to accept.
    const MonitorFileRead broken = LoadMonitorFile(dir.Write("broken.h86", ":0100000011EF\n"));
    EXPECT_FALSE(broken.read.has_value());
    EXPECT_FALSE(broken.file);
    const MonitorFileRead plain = LoadMonitorFile(dir.Write("plain.h86", hex_text::End()));
    EXPECT_TRUE(plain.read.has_value());
    EXPECT_EQ(plain.status, MonitorHeaderStatus::kNoSignature);
    EXPECT_FALSE(plain.file);
}

}  // namespace
