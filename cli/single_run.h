#pragma once

#include <string>

#include "cli/cli_console.h"
#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "cli/exit_status.h"
#include "cli/run_setup.h"

namespace quillon {

// How a single board's run ended.
struct SingleBoardEnd {
    int status = kExitSuccess;  // the exit status
    std::string failure;        // why the board is not ok (the failing log line); empty when it is
};

// One board on one port: Initialize and, unless the run initializes only, Start Download of the
// image read before, then the board's record line. In a station's program the same, with
// events for the production run instead of a log. Returns the exit status and why the board
// failed; a record line that cannot be written makes the run fail too.
[[nodiscard]] SingleBoardEnd RunSingleBoard(const CliOptions& options, RunSetup& setup,
                                            CliConsole& console,
                                            const AbortRequested& abortRequested);

}  // namespace quillon
