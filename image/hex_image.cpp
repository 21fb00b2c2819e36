#include "image/hex_image.h"

#include <algorithm>
#include <cstring>

namespace quillon {

namespace {

// What every segment without data reads as.
const std::array<std::uint8_t, HexImage::kSegmentSize>& ErasedSegment() {
    static const auto erased = [] {
        std::array<std::uint8_t, HexImage::kSegmentSize> bytes;
        bytes.fill(HexImage::kErasedValue);
        return bytes;
    }();
    return erased;
}

}  // namespace

const std::uint8_t* HexImage::SegmentData(int segment) const {
    const std::vector<std::uint8_t>& bytes = m_segments[static_cast<std::size_t>(segment)];
    return bytes.empty() ? ErasedSegment().data() : bytes.data();
}

bool HexImage::Store(int segment, std::uint32_t offset, const std::uint8_t* bytes,
                     std::size_t count) {
    if (count == 0) {
        return true;
    }
    if (segment < 0 || segment >= kSegmentCount) {
        return false;
    }
    // Common case: the run lies in one segment.
    if (offset < kSegmentSize && count <= kSegmentSize - offset) {
        std::vector<std::uint8_t>& data = m_segments[static_cast<std::size_t>(segment)];
        if (data.empty()) {
            data.assign(kSegmentSize, kErasedValue);
        }
        std::memcpy(data.data() + offset, bytes, count);
        std::uint16_t& mark = m_fillMarks[static_cast<std::size_t>(segment)];
        mark = std::max(mark, static_cast<std::uint16_t>(offset + count - 1));
        m_holdsData[static_cast<std::size_t>(segment)] = true;
        return true;
    }
    const std::uint64_t first = Address(segment, 0) + std::uint64_t{offset};
    if (first + count > kSize) {
        return false;
    }
    const std::uint64_t last = first + count - 1;
    for (std::uint64_t s = first / kSegmentSize; s <= last / kSegmentSize; ++s) {
        std::vector<std::uint8_t>& data = m_segments[s];
        if (data.empty()) {
            data.assign(kSegmentSize, kErasedValue);
        }
        const std::uint64_t from = std::max(first, s * kSegmentSize);
        const std::uint64_t to = std::min(last, (s + 1) * kSegmentSize - 1);
        std::memcpy(data.data() + from % kSegmentSize, bytes + (from - first), to - from + 1);
        const auto lastHere = static_cast<std::uint16_t>(to % kSegmentSize);
        m_fillMarks[s] = std::max(m_fillMarks[s], lastHere);
        m_holdsData[s] = true;
    }
    return true;
}

}  // namespace quillon
