#include "tests/support/hex_text.h"

#include <cstdio>

namespace quillon {

namespace hex_text {
namespace {

std::string Build(std::uint8_t type, std::uint16_t address, const std::vector<std::uint8_t>& data,
                  std::uint8_t checksumDelta) {
    char digits[3];
    std::string record = ":";
    unsigned sum = 0;
    auto put = [&](unsigned byte) {
        std::snprintf(digits, sizeof digits, "%02X", byte & 0xFF);
        record += digits;
        sum += byte & 0xFF;
    };
    put(static_cast<unsigned>(data.size()));
    put(address >> 8);
    put(address & 0xFF);
    put(type);
    for (std::uint8_t byte : data) {
        put(byte);
    }
    const unsigned checksum = (0x100 - (sum & 0xFF) + checksumDelta) & 0xFF;
    std::snprintf(digits, sizeof digits, "%02X", checksum);
    record += digits;
    return record;
}

}  // namespace

std::string Record(std::uint8_t type, std::uint16_t address,
                   const std::vector<std::uint8_t>& data) {
    return Build(type, address, data, 0);
}

std::string RecordWithBadChecksum(std::uint8_t type, std::uint16_t address,
                                  const std::vector<std::uint8_t>& data) {
    return Build(type, address, data, 1);
}

std::vector<std::uint8_t> Ascending(std::size_t count, std::uint8_t first) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return bytes;
}

std::vector<std::uint8_t> Pattern(std::size_t count, unsigned seed) {
    std::vector<std::uint8_t> bytes(count);
    unsigned x = seed * 2654435761u + 12345u;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

}  // namespace hex_text

}  // namespace quillon
