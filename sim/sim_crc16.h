#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillon {

// The 16-bit frame check of the monitor's command frames: polynomial 0x1021 in reflected form
// (0x8408), initial value 0, no final XOR, bits least significant first. "123456789" gives
// 0x2189. Computed bit by bit here, so it does not share its method with the host's nibble-wise
// computation, and each side checks the other.
std::uint16_t SimCrc16(const std::uint8_t* bytes, std::size_t count);

// The CRC as the frames carry it: four upper-case hexadecimal digits, most significant first.
std::string SimCrcText(std::uint16_t crc);

}  // namespace quillon
