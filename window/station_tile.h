#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "production/production_events.h"
#include "window/log_lines.h"

namespace quillon {

// The texts of a tile, for one look in both skins.
std::string StationPhaseText(StationPhase phase);
// "OK", "FAILED" or "ABORTED": large, on green, red or neither.
std::string BoardResultText(BoardOutcome result);
// The line below a result: the board's serial number and its time ("SN 000123  41.2 s").
std::string BoardDetailText(const BoardDone& board);

// What one station's tile shows: its port, the boards it has worked on, its phase and
// progress, its last board's result, and its log, which the tile opens.
struct StationTile {
    std::string port;
    std::string description;  // the port list's description of it
    int boards = 0;           // done
    StationPhase phase = StationPhase::kWaitingForBoard;
    std::uint32_t done = 0;  // of the phase's bytes
    std::uint32_t total = 0;
    std::optional<BoardDone> last;
    LogLines log;

    // A board is in work: its program runs (a stop lets it end, Escape does nothing).
    bool BoardInWork() const;
};

}  // namespace quillon
