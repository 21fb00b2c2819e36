#include "link/crc.h"

#include <initializer_list>

namespace quillon {

// Four bits at a time: for each byte its low nibble, then its high nibble.
std::uint16_t CalcCrc(const std::uint8_t* data, std::size_t length) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned byte = data[i];
        for (const unsigned nibble : {byte & 0x0Fu, byte >> 4}) {
            crc = static_cast<std::uint16_t>((crc >> 4) ^ (((crc ^ nibble) & 0x0Fu) * 0x1081u));
        }
    }
    return crc;
}

}  // namespace quillon
