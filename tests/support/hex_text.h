#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

// Builds Intel HEX text in code, so a test's expectation never depends on the reader it checks.
namespace hex_text {

// One record ":LLAAAATT<data>CC" with its checksum and no line end.
std::string Record(std::uint8_t type, std::uint16_t address, const std::vector<std::uint8_t>& data);
// The same with a deliberately wrong checksum.
std::string RecordWithBadChecksum(std::uint8_t type, std::uint16_t address,
                                  const std::vector<std::uint8_t>& data);

inline std::string Data(std::uint16_t address, const std::vector<std::uint8_t>& data) {
    return Record(0x00, address, data) + "\n";
}
inline std::string End() {
    return Record(0x01, 0, {}) + "\n";
}
inline std::string Linear(std::uint16_t upper) {
    return Record(0x04, 0,
                  {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)}) +
           "\n";
}
inline std::string Segment(std::uint16_t base) {
    return Record(0x02, 0,
                  {static_cast<std::uint8_t>(base >> 8), static_cast<std::uint8_t>(base)}) +
           "\n";
}

// `count` bytes counting up from `first` (wrapping at 256).
std::vector<std::uint8_t> Ascending(std::size_t count, std::uint8_t first);

// `count` bytes following a simple pattern, different for every `seed`.
std::vector<std::uint8_t> Pattern(std::size_t count, unsigned seed);

}  // namespace hex_text

}  // namespace quillon
