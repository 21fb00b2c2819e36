#pragma once

#include <cstddef>
#include <cstdint>

namespace quillon {

// The 16-bit CRC that protects the monitor's command frames: polynomial 0x1021 in reflected
// form (0x8408), initial value 0, no final XOR, least significant bit first; the check value
// of "123456789" is 0x2189. The longest frame it covers is 137 bytes.
std::uint16_t CalcCrc(const std::uint8_t* data, std::size_t length);

}  // namespace quillon
