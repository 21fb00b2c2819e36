#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillon {

// What one HEX file puts into the target's 16 MB address space, as a value: 256 segments of
// 64 KB, each held only once a byte was stored in it, erased value 0xFF, and per segment a
// fill mark, the offset of the highest byte stored there (inclusive; 0 in a segment without
// data). Segment = address bits 23..16, offset = bits 15..0; the segments lie back to back.
// Copies are independent; a job and its owner can each keep one.
class HexImage {
public:
    static constexpr std::uint32_t kSegmentSize = 0x10000;
    static constexpr int kSegmentCount = 256;
    static constexpr std::uint32_t kSize = kSegmentSize * kSegmentCount;
    static constexpr std::uint8_t kErasedValue = 0xFF;

    // Stores `count` bytes at consecutive addresses from `segment`, `offset`. The offset may
    // exceed 0xFFFF: the run then goes on into the following segments, and the fill mark of
    // each segment it touches rises to the offset of the run's last byte there. A run that
    // would reach beyond the 16 MB stores nothing and returns false.
    [[nodiscard]] bool Store(int segment, std::uint32_t offset, const std::uint8_t* bytes,
                             std::size_t count);

    // Read access; `segment` must be 0..255 and `offset` 0..0xFFFF.
    std::uint8_t Byte(int segment, std::uint32_t offset) const {
        return SegmentData(segment)[offset];
    }
    std::uint16_t FillMark(int segment) const {
        return m_fillMarks[static_cast<std::size_t>(segment)];
    }
    // True when the file stored at least one byte in `segment`. Unlike "fill mark above 0"
    // this also holds for a segment whose only byte lies at offset 0.
    bool HoldsData(int segment) const { return m_holdsData[static_cast<std::size_t>(segment)]; }
    // True when any segment holds data: the file stored at least one byte.
    bool HoldsAnyData() const { return m_holdsData.any(); }

    // The 64 KB of `segment` (0..255), erased bytes where nothing was stored.
    const std::uint8_t* SegmentData(int segment) const;

    static constexpr std::uint32_t Address(int segment, std::uint32_t offset) {
        return static_cast<std::uint32_t>(segment) * kSegmentSize + offset;
    }

    friend bool operator==(const HexImage&, const HexImage&) = default;

private:
    std::array<std::vector<std::uint8_t>, kSegmentCount> m_segments;  // empty: nothing stored
    std::array<std::uint16_t, kSegmentCount> m_fillMarks{};
    std::bitset<kSegmentCount> m_holdsData;
};

}  // namespace quillon
