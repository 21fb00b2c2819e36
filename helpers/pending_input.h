#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quillon {

// Bytes taken from a driver but not yet read by the caller, oldest first.
class PendingInput {
public:
    // At most this many bytes are kept; callers never wait for more than 1024.
    static constexpr std::size_t kLimit = 64 * 1024;

    std::size_t size() const { return m_bytes.size() - m_start; }
    std::size_t room() const { return kLimit - std::min(kLimit, size()); }

    void Clear() {
        m_bytes.clear();
        m_start = 0;
    }
    void Append(const std::uint8_t* bytes, std::size_t count) {
        if (m_start > 0 && m_start == m_bytes.size()) {
            Clear();  // all read: start over at the front
        }
        m_bytes.insert(m_bytes.end(), bytes, bytes + count);
    }
    // Moves up to `count` of the oldest bytes to `dest`; returns how many.
    std::size_t Take(std::uint8_t* dest, std::size_t count) {
        const std::size_t n = std::min(count, size());
        std::memcpy(dest, m_bytes.data() + m_start, n);
        m_start += n;
        return n;
    }

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_start = 0;
};

}  // namespace quillon
