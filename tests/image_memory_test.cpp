#include "image/image_memory.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class ImageMemoryTest : public ::testing::Test {
protected:
    void SetUp() override { g_imageMemory.Clear(); }
};

TEST_F(ImageMemoryTest, ClearErasesEveryByteAndFillMark) {
    const std::vector<std::uint8_t> bytes(300, 0x00);
    ASSERT_TRUE(g_imageMemory.Store(7, 0x1000, bytes.data(), bytes.size()));
    ASSERT_TRUE(g_imageMemory.Store(255, 0xFF00, bytes.data(), 0x100));
    g_imageMemory.Clear();
    for (int s = 0; s < ImageMemory::kSegmentCount; ++s) {
        EXPECT_EQ(g_imageMemory.FillMark(s), 0);
    }
    for (std::uint32_t a = 0; a < ImageMemory::kSize; a += 4093) {
        ASSERT_EQ(g_imageMemory.Byte(static_cast<int>(a >> 16), a & 0xFFFF), 0xFF);
    }
    EXPECT_EQ(g_imageMemory.Byte(255, 0xFFFF), 0xFF);
}

TEST_F(ImageMemoryTest, FillMarkOnlyRises) {
    const std::uint8_t byte = 0x12;
    ASSERT_TRUE(g_imageMemory.Store(3, 0x00FF, &byte, 1));
    ASSERT_TRUE(g_imageMemory.Store(3, 0x0010, &byte, 1));
    EXPECT_EQ(g_imageMemory.FillMark(3), 0x00FF);
    ASSERT_TRUE(g_imageMemory.Store(3, 0x0100, &byte, 1));
    EXPECT_EQ(g_imageMemory.FillMark(3), 0x0100);
}

TEST_F(ImageMemoryTest, SingleByteAtOffsetZeroLeavesTheFillMarkAtZeroButHoldsData) {
    EXPECT_FALSE(g_imageMemory.HoldsData(4));
    const std::uint8_t byte = 0x00;
    ASSERT_TRUE(g_imageMemory.Store(4, 0, &byte, 1));
    EXPECT_EQ(g_imageMemory.Byte(4, 0), 0x00);
    EXPECT_EQ(g_imageMemory.FillMark(4), 0);
    EXPECT_TRUE(g_imageMemory.HoldsData(4));
    EXPECT_FALSE(g_imageMemory.HoldsData(3));
    EXPECT_FALSE(g_imageMemory.HoldsData(5));
    g_imageMemory.Clear();
    EXPECT_FALSE(g_imageMemory.HoldsData(4));
}

TEST_F(ImageMemoryTest, RunAcrossSegmentsRaisesEachSegmentsFillMark) {
    std::vector<std::uint8_t> bytes(0x10010);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    }
    // From offset 0xFFF8 of segment 9: 8 bytes there, all of segment 10, 8 bytes of segment 11.
    ASSERT_TRUE(g_imageMemory.Store(9, 0xFFF8, bytes.data(), bytes.size()));
    EXPECT_EQ(g_imageMemory.FillMark(9), 0xFFFF);
    EXPECT_EQ(g_imageMemory.FillMark(10), 0xFFFF);
    EXPECT_EQ(g_imageMemory.FillMark(11), 0x0007);
    EXPECT_TRUE(g_imageMemory.HoldsData(9) && g_imageMemory.HoldsData(10) &&
                g_imageMemory.HoldsData(11));
    EXPECT_FALSE(g_imageMemory.HoldsData(12));
    EXPECT_EQ(g_imageMemory.Byte(10, 0), bytes[8]);
    EXPECT_EQ(g_imageMemory.Byte(11, 7), bytes[bytes.size() - 1]);
    EXPECT_EQ(g_imageMemory.Byte(11, 8), 0xFF);

    // An offset beyond 0xFFFF starts in a later segment and leaves the first one alone.
    const std::uint8_t two[2] = {1, 2};
    ASSERT_TRUE(g_imageMemory.Store(20, 0x10005, two, 2));
    EXPECT_EQ(g_imageMemory.FillMark(20), 0);
    EXPECT_EQ(g_imageMemory.FillMark(21), 6);
}

TEST_F(ImageMemoryTest, RunBeyondTheEndStoresNothing) {
    const std::vector<std::uint8_t> bytes(16, 0x55);
    EXPECT_FALSE(g_imageMemory.Store(255, 0xFFF8, bytes.data(), bytes.size()));
    EXPECT_EQ(g_imageMemory.Byte(255, 0xFFF8), 0xFF);
    EXPECT_EQ(g_imageMemory.FillMark(255), 0);
    EXPECT_FALSE(g_imageMemory.HoldsData(255));
    // Exactly up to the last byte is fine.
    EXPECT_TRUE(g_imageMemory.Store(255, 0xFFF0, bytes.data(), bytes.size()));
    EXPECT_EQ(g_imageMemory.FillMark(255), 0xFFFF);
}

}  // namespace
