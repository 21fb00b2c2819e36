#pragma once

#include <optional>
#include <string>

#include "image/hex_reader.h"
#include "image/monitor_header.h"

namespace quillon {

// A monitor file as Initialize uses it: its image (the loader stages and the monitor) and the
// working copy of its header.
struct MonitorFile {
    HexImage image;
    MonitorHeader header{};
};

// One read of a monitor file: what the reader said, and, when the file could be read, whether
// its header was found and accepted.
struct MonitorFileRead {
    HexReadResult read;  // the reader's texts and error; its image moved into `file`
    MonitorHeaderStatus status = MonitorHeaderStatus::kNoSignature;  // when read has a value
    std::optional<MonitorFile> file;  // when read has a value and the header was accepted
};

[[nodiscard]] MonitorFileRead LoadMonitorFile(const std::string& path, const StopCheck& stop = {});

// The target's display name from an accepted header (its 8-bit text decoded as Windows-1252).
std::string DisplayNameOf(const MonitorHeader& header);

}  // namespace quillon
