#include "image/hex_image.h"

#include <gtest/gtest.h>

#include <vector>

using namespace quillon;

namespace {

class HexImageTest : public ::testing::Test {
protected:
    HexImage m_image;
};

TEST_F(HexImageTest, ClearErasesEveryByteAndFillMark) {
    const std::vector<std::uint8_t> bytes(300, 0x00);
    ASSERT_TRUE(m_image.Store(7, 0x1000, bytes.data(), bytes.size()));
    ASSERT_TRUE(m_image.Store(255, 0xFF00, bytes.data(), 0x100));
    m_image = HexImage{};
    for (int s = 0; s < HexImage::kSegmentCount; ++s) {
        EXPECT_EQ(m_image.FillMark(s), 0);
    }
    for (std::uint32_t a = 0; a < HexImage::kSize; a += 4093) {
        ASSERT_EQ(m_image.Byte(static_cast<int>(a >> 16), a & 0xFFFF), 0xFF);
    }
    EXPECT_EQ(m_image.Byte(255, 0xFFFF), 0xFF);
}

TEST_F(HexImageTest, FillMarkOnlyRises) {
    const std::uint8_t byte = 0x12;
    ASSERT_TRUE(m_image.Store(3, 0x00FF, &byte, 1));
    ASSERT_TRUE(m_image.Store(3, 0x0010, &byte, 1));
    EXPECT_EQ(m_image.FillMark(3), 0x00FF);
    ASSERT_TRUE(m_image.Store(3, 0x0100, &byte, 1));
    EXPECT_EQ(m_image.FillMark(3), 0x0100);
}

TEST_F(HexImageTest, SingleByteAtOffsetZeroLeavesTheFillMarkAtZeroButHoldsData) {
    EXPECT_FALSE(m_image.HoldsData(4));
    const std::uint8_t byte = 0x00;
    ASSERT_TRUE(m_image.Store(4, 0, &byte, 1));
    EXPECT_EQ(m_image.Byte(4, 0), 0x00);
    EXPECT_EQ(m_image.FillMark(4), 0);
    EXPECT_TRUE(m_image.HoldsData(4));
    EXPECT_FALSE(m_image.HoldsData(3));
    EXPECT_FALSE(m_image.HoldsData(5));
    m_image = HexImage{};
    EXPECT_FALSE(m_image.HoldsData(4));
}

TEST_F(HexImageTest, RunAcrossSegmentsRaisesEachSegmentsFillMark) {
    std::vector<std::uint8_t> bytes(0x10010);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    }
    // From offset 0xFFF8 of segment 9: 8 bytes there, all of segment 10, 8 bytes of segment 11.
    ASSERT_TRUE(m_image.Store(9, 0xFFF8, bytes.data(), bytes.size()));
    EXPECT_EQ(m_image.FillMark(9), 0xFFFF);
    EXPECT_EQ(m_image.FillMark(10), 0xFFFF);
    EXPECT_EQ(m_image.FillMark(11), 0x0007);
    EXPECT_TRUE(m_image.HoldsData(9) && m_image.HoldsData(10) && m_image.HoldsData(11));
    EXPECT_FALSE(m_image.HoldsData(12));
    EXPECT_EQ(m_image.Byte(10, 0), bytes[8]);
    EXPECT_EQ(m_image.Byte(11, 7), bytes[bytes.size() - 1]);
    EXPECT_EQ(m_image.Byte(11, 8), 0xFF);

    // An offset beyond 0xFFFF starts in a later segment and leaves the first one alone.
    const std::uint8_t two[2] = {1, 2};
    ASSERT_TRUE(m_image.Store(20, 0x10005, two, 2));
    EXPECT_EQ(m_image.FillMark(20), 0);
    EXPECT_EQ(m_image.FillMark(21), 6);
}

TEST_F(HexImageTest, RunBeyondTheEndStoresNothing) {
    const std::vector<std::uint8_t> bytes(16, 0x55);
    EXPECT_FALSE(m_image.Store(255, 0xFFF8, bytes.data(), bytes.size()));
    EXPECT_EQ(m_image.Byte(255, 0xFFF8), 0xFF);
    EXPECT_EQ(m_image.FillMark(255), 0);
    EXPECT_FALSE(m_image.HoldsData(255));
    // Exactly up to the last byte is fine.
    EXPECT_TRUE(m_image.Store(255, 0xFFF0, bytes.data(), bytes.size()));
    EXPECT_EQ(m_image.FillMark(255), 0xFFFF);
}

}  // namespace
