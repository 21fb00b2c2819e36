#pragma once

#include <cstdint>

namespace quillon {

// The 16-bit CRC that protects the monitor's command frames: polynomial 0x1021 in reflected
// form (0x8408), initial value 0, no final XOR, least significant bit first; the check value
// of "123456789" is 0x2189. Covers at most 255 bytes (the longest frame covers 137).
std::uint16_t CalcCrc(const std::uint8_t* data, std::uint8_t length);

}  // namespace quillon
