#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quillon {

// SHA-256 (FIPS 180-2), for the virtual target's sector digests and the production record's
// image digest. Plain C++, so every build (Windows too) has the same one.
class Sha256 {
public:
    Sha256();
    // Adds `count` bytes to the message; any number of calls, of any size.
    void Update(const std::uint8_t* bytes, std::size_t count);
    // Ends the message and returns its digest as 64 lower-case hexadecimal digits. The object
    // is spent afterwards.
    std::string FinishHex();

private:
    void CompressBlock(const std::uint8_t* block);

    std::array<std::uint32_t, 8> m_state;
    std::array<std::uint8_t, 64> m_block{};  // the bytes of an incomplete block
    std::size_t m_blockFill = 0;
    std::uint64_t m_length = 0;  // bytes so far
};

// SHA-256 of a byte stretch as 64 lower-case hexadecimal digits.
std::string Sha256Hex(const std::uint8_t* bytes, std::size_t count);

// SHA-256 of the bytes of the file at `path` (UTF-8). False (and `hex` untouched) when the
// file cannot be read to its end.
bool Sha256OfFile(const std::string& path, std::string& hex);

}  // namespace quillon
