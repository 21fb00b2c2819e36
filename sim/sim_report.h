#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/target_model.h"

namespace quillon {

// Where the target is reachable, for the report.
struct SimLineInfo {
    std::string slavePath;
    std::string link;
    long baud = 0;
    // The target's UART, when modelled: the host's rate, the one it makes, its divider, and
    // whether the two are too far apart.
    struct Uart {
        std::uint32_t hostBaud = 0;
        std::uint32_t baud = 0;
        std::uint32_t divider = 0;
        bool mismatched = false;
    };
    std::optional<Uart> uart;
};

// The JSON report: the target's settings, the line, every session with its stages, loader and
// monitor checks, erase sequence and programmed blocks, the faults seen and played, and a
// SHA-256 of every programmed sector's 64 KB as the flash holds it now.
std::string SimReportJson(const TargetModel& model, const SimLineInfo& line);

}  // namespace quillon
