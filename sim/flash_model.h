#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

// The target's 16 MB flash: 256 sectors of 64 KB. Erasing sets a sector to 0xFF; programming
// may only write bytes that are erased (0xFF), since flash bits cannot be set again without an
// erase, and a host that programs over unerased bytes has forgotten an erase.
class FlashModel {
public:
    static constexpr std::uint32_t kSectorSize = 0x10000;
    static constexpr int kSectorCount = 256;
    static constexpr std::uint32_t kSize = kSectorSize * kSectorCount;

    // A new flash holds old content (0x00 everywhere), so that a missing erase shows, or is
    // erased throughout when `blank` is set.
    explicit FlashModel(bool blank);

    void Erase(int sector);

    struct ProgramResult {
        bool ok = false;
        std::uint32_t firstUnerased = 0;  // when !ok: the first byte that was not 0xFF
    };
    // Writes `bytes` from `address` when every target byte is erased, else writes nothing.
    // The stretch must lie within the flash (checked by the caller's frame parser).
    ProgramResult Program(std::uint32_t address, const std::uint8_t* bytes, std::size_t count);

    bool IsProgrammed(int sector) const { return m_programmed[static_cast<std::size_t>(sector)]; }
    const std::uint8_t* Sector(int sector) const {
        return m_bytes.data() + static_cast<std::size_t>(sector) * kSectorSize;
    }
    const std::vector<std::uint8_t>& bytes() const { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
    std::vector<bool> m_programmed;
};

}  // namespace quillon
