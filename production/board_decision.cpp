#include "production/board_decision.h"

#include "cli/exit_status.h"

namespace quillon {

namespace {

// Why a program that reported no result ended, from what the run saw of its end.
std::string FailureOfUnreportedEnd(const BoardEnding& ending) {
    if (!ending.silentFailure.empty()) {
        return ending.silentFailure;
    }
    if (ending.exitStatus > 128) {
        return "station program ended by signal " + std::to_string(ending.exitStatus - 128);
    }
    if (!ending.lastMessage.empty()) {
        return ending.lastMessage;
    }
    return "station program ended with status " + std::to_string(ending.exitStatus);
}

}  // namespace

BoardDecision DecideResult(const BoardEnding& ending) {
    if (!ending.startFailure.empty()) {
        return {ResultName(kExitJobFailed), ending.startFailure, true};
    }
    if (ending.reportedStatus) {
        // The board went as its program saw it, and its record line says the same.
        BoardDecision board{ResultName(*ending.reportedStatus), {}, false};
        if (*ending.reportedStatus != kExitSuccess) {
            board.failure = !ending.reportedFailure.empty() ? ending.reportedFailure
                                                            : "station program ended with status " +
                                                                  std::to_string(ending.exitStatus);
        }
        return board;
    }
    // Its line may have landed just before it ended.
    if (ending.recordedLine) {
        return {ending.recordedLine->result, ending.recordedLine->failure, false};
    }
    const bool aborted = ending.abortRequested || ending.exitStatus == kExitAborted;
    return {ResultName(aborted ? kExitAborted : kExitJobFailed), FailureOfUnreportedEnd(ending),
            true};
}

}  // namespace quillon
