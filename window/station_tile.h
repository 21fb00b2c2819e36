#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "window/log_lines.h"

namespace quillon {

// Where a station of the production view stands.
enum class StationPhase {
    kWaitingForEnter,  // for the operator's Enter (or Next)
    kWaitingForBoard,  // for its port to go and come back with the next board
    kInitializing,
    kErasing,
    kProgramming,
    kFinalizing,
    kEnded,  // no further boards
};

// How a board ended.
enum class BoardResult { kOk, kFailed, kAborted };

// The last board of a station, as its tile shows it.
struct BoardOutcome {
    BoardResult result = BoardResult::kFailed;
    std::string failingLine;   // with kFailed: the line that says why
    std::string serialNumber;  // as its format writes it; empty without numbers
    double seconds = 0;        // the board's time

    bool operator==(const BoardOutcome&) const = default;
};

// The texts of a tile, for one look in both skins.
std::string StationPhaseText(StationPhase phase);
// "OK", "FAILED" or "ABORTED": large, on green, red or neither.
std::string BoardResultText(BoardResult result);
// The line below a result: the serial number and the board's time ("SN 000123 · 41.2 s").
std::string BoardDetailText(const BoardOutcome& outcome);

// What one station's tile shows: its port, the boards it has worked on, its phase and
// progress, its last board's result, and its log, which the tile opens.
struct StationTile {
    std::string port;
    std::string description;  // the port list's description of it
    int boards = 0;
    StationPhase phase = StationPhase::kWaitingForEnter;
    std::uint32_t done = 0;  // of the phase's bytes
    std::uint32_t total = 0;
    std::optional<BoardOutcome> last;
    LogLines log;

    // A board is in work: its program runs (a stop lets it end, Escape does nothing).
    bool BoardInWork() const;
};

}  // namespace quillon
