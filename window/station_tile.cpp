#include "window/station_tile.h"

#include <cstdio>

namespace quillon {

std::string StationPhaseText(StationPhase phase) {
    switch (phase) {
        case StationPhase::kWaitingForEnter:
            return "waiting for Enter";
        case StationPhase::kWaitingForBoard:
            return "waiting for the board";
        case StationPhase::kWaitingForNumber:
            return "waiting for a serial number";
        case StationPhase::kInitializing:
            return "initializing";
        case StationPhase::kErasing:
            return "erasing";
        case StationPhase::kProgramming:
            return "programming";
        case StationPhase::kFinalizing:
            return "finalizing";
        case StationPhase::kEnded:
            return "ended";
    }
    return {};
}

std::string BoardResultText(BoardOutcome result) {
    switch (result) {
        case BoardOutcome::kOk:
            return "OK";
        case BoardOutcome::kFailed:
            return "FAILED";
        case BoardOutcome::kAborted:
            return "ABORTED";
    }
    return {};
}

std::string BoardDetailText(const BoardDone& board) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", board.seconds);
    return board.serialNumber ? "SN " + *board.serialNumber + "  " + seconds : seconds;
}

bool StationTile::BoardInWork() const {
    return phase == StationPhase::kInitializing || phase == StationPhase::kErasing ||
           phase == StationPhase::kProgramming || phase == StationPhase::kFinalizing;
}

}  // namespace quillon
