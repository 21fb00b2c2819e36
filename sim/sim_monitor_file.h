#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "helpers/result.h"

namespace quillon {

// What the virtual target knows of its own firmware: read from the same monitor file that the
// host sends from, by the target's own reader, so the target can check every loader and
// monitor byte it receives.
struct SimMonitorFile {
    std::string path;
    std::string targetName;
    int headerSegment = 0;
    int specification = 0;  // 170 or 172
    int loaderSegment = 0;
    int monitorSegment = 0;
    std::uint8_t syncByte = 0;
    std::uint8_t identByte = 0;
    std::uint8_t loaderAck = 0;
    int level0Length = 0;
    std::vector<std::string> flashTypes;  // the used slots, each cut at its NUL
    int eraseAllSectorCount = 0;          // 0 for the 170-byte form
    // The bytes the host sends: Level 0 (level0Length bytes from offset 0 of the loader
    // segment, 0xFF beyond its data) followed by Level 1 (the rest up to the segment's fill
    // mark; empty when Level 0 reaches that far).
    std::vector<std::uint8_t> loader;
    // The monitor: offsets 0 to the monitor segment's fill mark, 1 to 65536 bytes.
    std::vector<std::uint8_t> monitor;

    std::size_t level1Length() const {
        return loader.size() - static_cast<std::size_t>(level0Length);
    }
};

// Reads a monitor file. The header is the first 64 KB segment that starts with "MONITOR" (any
// letter case); a file whose first such header has another specification than 170 or 172, a
// loader or monitor segment beyond 255 or more than 10 flash types is refused.
[[nodiscard]] Result<SimMonitorFile> LoadSimMonitorFile(const std::string& path);

// The same from HEX text (tests build monitor files in code).
[[nodiscard]] Result<SimMonitorFile> ParseSimMonitorFile(const std::string& hexText,
                                                         const std::string& origin);

}  // namespace quillon
