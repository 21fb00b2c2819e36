#pragma once

#include <string>
#include <vector>

namespace quillon {

// How one station's boards went, for the running count and the summary table.
struct StationTotals {
    std::string port;
    int boards = 0;
    int ok = 0;
    int failed = 0;
    int aborted = 0;
    std::string lastResult;  // "ok", "failed" or "aborted"; empty before the first board ended
    double lastSeconds = 0;
    std::string lastFailure;  // the failing line of the last board that did not succeed
};

// The running count after a board: "board 17: ok — 16 ok, 1 failed", with ", N aborted"
// when boards were aborted.
std::string BoardCountLine(const StationTotals& totals);

// The table that ends a production run, with a header and one row per station: port, result,
// seconds and failing line of a single pass; port, boards, ok, failed, aborted and the last
// failing line when stations ran board after board. Text from outside (ports, log lines) is
// escaped for the terminal.
std::string SummaryTable(const std::vector<StationTotals>& stations, bool boardAfterBoard);

}  // namespace quillon
