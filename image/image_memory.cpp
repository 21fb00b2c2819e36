#include "image/image_memory.h"

#include <algorithm>
#include <cstring>
#include <iterator>

// Zero-initialised static storage: costs no space in the program file.
ImageMemory g_imageMemory;

void ImageMemory::Clear() {
    std::memset(m_bytes, kErasedValue, sizeof m_bytes);
    std::memset(m_fillMarks, 0, sizeof m_fillMarks);
    std::memset(m_holdsData, 0, sizeof m_holdsData);
}

bool ImageMemory::Store(int segment, std::uint32_t offset, const std::uint8_t* bytes,
                        std::size_t count) {
    if (count == 0) {
        return true;
    }
    if (segment < 0 || segment >= kSegmentCount) {
        return false;
    }
    const std::uint64_t first = Address(segment, 0) + std::uint64_t{offset};
    if (first + count > kSize) {
        return false;
    }
    std::memcpy(m_bytes + first, bytes, count);

    const std::uint64_t last = first + count - 1;
    for (std::uint64_t s = first / kSegmentSize; s <= last / kSegmentSize; ++s) {
        const std::uint64_t segmentEnd = (s + 1) * kSegmentSize - 1;
        const auto lastHere = static_cast<std::uint16_t>(std::min(last, segmentEnd) % kSegmentSize);
        if (lastHere > m_fillMarks[s]) {
            m_fillMarks[s] = lastHere;
        }
        m_holdsData[s] = true;
    }
    return true;
}

bool ImageMemory::HoldsAnyData() const {
    return std::find(std::begin(m_holdsData), std::end(m_holdsData), true) != std::end(m_holdsData);
}
