#include "sim/flash_model.h"

#include <algorithm>

namespace quillon {

FlashModel::FlashModel(bool blank)
    : m_bytes(kSize, blank ? std::uint8_t{0xFF} : std::uint8_t{0x00}),
      m_programmed(kSectorCount, false) {}

void FlashModel::Erase(int sector) {
    std::fill_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(sector) * kSectorSize, kSectorSize,
                std::uint8_t{0xFF});
}

FlashModel::ProgramResult FlashModel::Program(std::uint32_t address, const std::uint8_t* bytes,
                                              std::size_t count) {
    ProgramResult result;
    for (std::size_t i = 0; i < count; ++i) {
        if (m_bytes[address + i] != 0xFF) {
            result.firstUnerased = static_cast<std::uint32_t>(address + i);
            return result;
        }
    }
    std::copy_n(bytes, count, m_bytes.begin() + address);
    for (std::size_t i = 0; i < count; ++i) {
        m_programmed[(address + i) / kSectorSize] = true;
    }
    result.ok = true;
    return result;
}

}  // namespace quillon
