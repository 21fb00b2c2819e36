#pragma once

#include <cstdint>

#include "link/line_settings.h"

namespace quillon {

// How a station goes on after a board.
enum class RepeatMode {
    kOnce,    // one board per port
    kEnter,   // the next boards when the operator presses Enter
    kReplug,  // the next board when the station's port has gone and come back
};

// How long a station's program may report nothing before the production run ends it: the
// longest time-out of its jobs (opening a network port takes less) and a margin for a machine
// under load.
inline constexpr std::uint32_t kDefaultStationSilenceSeconds = Timeouts{}.LongestMs() / 1000 + 20;

}  // namespace quillon
