#pragma once

#include <optional>
#include <string>

#include "production/board_record.h"

namespace quillon {

// What a station knows when its board's program has ended: what the program reported and how
// it ended, and what the run did to it.
struct BoardEnding {
    std::string startFailure;  // why the program could not even start, or empty
    // The program's own result (its exit status and the failing line), when it reported one.
    std::optional<int> reportedStatus;
    std::string reportedFailure;
    int exitStatus = 0;           // the program's exit status (-1: never started)
    bool abortRequested = false;  // the run asked the program to stop
    std::string silentFailure;    // why the run killed it for not answering, or empty
    std::string lastMessage;      // the last message the program wrote
    // The record line the program wrote for the board, when it ended without its result.
    std::optional<RecordedBoard> recordedLine;
};

// How the board ended, and who writes its record line.
struct BoardDecision {
    std::string result;   // "ok", "failed" or "aborted"
    std::string failure;  // empty for "ok"
    // The program wrote no line for the board: the station writes it.
    bool lineOfOurOwn = false;
};

// The board's result from what its program reported and how it ended. A result the program
// reported stands; a program that ended before its result (killed, a crash, the run's second
// stop request) ended the board as its record line says, or else as its end shows.
[[nodiscard]] BoardDecision DecideResult(const BoardEnding& ending);

}  // namespace quillon
