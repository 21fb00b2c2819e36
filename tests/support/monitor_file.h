#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

// A monitor file built in code: header, loader (Level 0 + Level 1) and monitor, as HEX text.
struct MonitorFileSpec {
    std::string signature = "MONITOR";
    std::uint16_t specification = 172;
    int headerSegment = 0;
    std::uint16_t loaderSegment = 1;
    std::uint16_t monitorSegment = 2;
    std::uint8_t syncByte = 0x00;
    std::uint8_t identByte = 0xC5;
    std::uint16_t level0Length = 4;
    std::uint8_t loaderAck = 0x01;
    std::vector<std::string> flashTypes = {"AM29", "F16"};
    std::string targetName = "Test Target";
    std::uint16_t eraseAllSectorCount = 4;
    std::vector<std::uint8_t> loader = {0x10, 0x11, 0x12, 0x13, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25};
    std::vector<std::uint8_t> monitor = std::vector<std::uint8_t>(40, 0x5A);

    // A monitor file with the virtual target's handshake bytes and flash types ("VF16",
    // "VF32"), Level 0 of 32 bytes, eraseAllSectorCount 4, and pattern bytes for the loader
    // and the monitor.
    static MonitorFileSpec VirtualTargetLike(std::size_t loaderBytes, std::size_t monitorBytes);

    // The header's 172 bytes (or 170 for the short form).
    std::vector<std::uint8_t> HeaderBytes() const;
    // The whole file as Intel HEX text.
    std::string HexText() const;
};

// Intel HEX text storing `bytes` at the 24-bit `address` onward (type 04 records as needed).
std::string HexTextAt(std::uint32_t address, const std::vector<std::uint8_t>& bytes);

}  // namespace quillon
