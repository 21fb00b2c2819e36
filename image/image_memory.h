#pragma once

#include <cstddef>
#include <cstdint>

// The picture of the target's 16 MB address space that one HEX file is loaded into:
// 256 segments of 64 KB, erased value 0xFF, and per segment a fill mark, the offset of the
// highest byte stored there (inclusive; 0 after a clear). Segment = address bits 23..16,
// offset = bits 15..0; the segments lie back to back.
//
// There is one instance, g_imageMemory, a static block that nobody creates or frees. Loads
// and reads never overlap (the target list loads before any job can start; the jobs run one
// at a time on the worker), so it has no lock.
class ImageMemory {
public:
    static constexpr std::uint32_t kSegmentSize = 0x10000;
    static constexpr int kSegmentCount = 256;
    static constexpr std::uint32_t kSize = kSegmentSize * kSegmentCount;
    static constexpr std::uint8_t kErasedValue = 0xFF;

    // Sets every byte to 0xFF, every fill mark to 0 and every segment to holding no data.
    void Clear();

    // Stores `count` bytes at consecutive addresses from `segment`, `offset`. The offset may
    // exceed 0xFFFF: the run then goes on into the following segments, and the fill mark of
    // each segment it touches rises to the offset of the run's last byte there. A run that
    // would reach beyond the 16 MB stores nothing and returns false.
    bool Store(int segment, std::uint32_t offset, const std::uint8_t* bytes, std::size_t count);

    // Read access; `segment` must be 0..255 and `offset` 0..0xFFFF.
    std::uint8_t Byte(int segment, std::uint32_t offset) const {
        return m_bytes[Address(segment, offset)];
    }
    std::uint16_t FillMark(int segment) const { return m_fillMarks[segment]; }
    // True when the current file stored at least one byte in `segment`. Unlike "fill mark
    // above 0" this also holds for a segment whose only byte lies at offset 0.
    bool HoldsData(int segment) const { return m_holdsData[segment]; }
    // True when any segment holds data: the file stored at least one byte.
    bool HoldsAnyData() const;

    // The 64 KB of `segment` (0..255), for callers that send or compare whole stretches.
    const std::uint8_t* SegmentData(int segment) const {
        return m_bytes + static_cast<std::size_t>(segment) * kSegmentSize;
    }

    static constexpr std::uint32_t Address(int segment, std::uint32_t offset) {
        return static_cast<std::uint32_t>(segment) * kSegmentSize + offset;
    }

private:
    std::uint8_t m_bytes[kSize];
    std::uint16_t m_fillMarks[kSegmentCount];
    bool m_holdsData[kSegmentCount];
};

extern ImageMemory g_imageMemory;
