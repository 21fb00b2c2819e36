#include "sim/sim_crc16.h"

namespace quillon {

std::uint16_t SimCrc16(const std::uint8_t* bytes, std::size_t count) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < count; ++i) {
        crc = static_cast<std::uint16_t>(crc ^ bytes[i]);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408U)
                                  : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

std::string SimCrcText(std::uint16_t crc) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(4, '0');
    for (int i = 3; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = kDigits[crc & 0xFU];
        crc = static_cast<std::uint16_t>(crc >> 4);
    }
    return text;
}

}  // namespace quillon
