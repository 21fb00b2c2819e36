#include "window/station_tile.h"

#include <cstdio>

namespace quillon {

std::string StationPhaseText(StationPhase phase) {
    switch (phase) {
        case StationPhase::kWaitingForEnter:
            return "waiting for Enter";
        case StationPhase::kWaitingForBoard:
            return "waiting for the board";
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

std::string BoardResultText(BoardResult result) {
    switch (result) {
        case BoardResult::kOk:
            return "OK";
        case BoardResult::kFailed:
            return "FAILED";
        case BoardResult::kAborted:
            return "ABORTED";
    }
    return {};
}

std::string BoardDetailText(const BoardOutcome& outcome) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", outcome.seconds);
    return outcome.serialNumber.empty() ? seconds : "SN " + outcome.serialNumber + "  " + seconds;
}

bool StationTile::BoardInWork() const {
    return phase == StationPhase::kInitializing || phase == StationPhase::kErasing ||
           phase == StationPhase::kProgramming || phase == StationPhase::kFinalizing;
}

}  // namespace quillon
