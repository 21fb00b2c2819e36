#pragma once

#include "cli/cli_console.h"
#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "cli/run_setup.h"

namespace quillon {

// One board on one port: Initialize and, unless the run initializes only, Start Download of the
// image read before, then the board's record line. In a station's program the same, with
// events for the production run instead of a log. Returns the exit status; a record line that
// cannot be written makes the run fail too.
[[nodiscard]] int RunSingleBoard(const CliOptions& options, RunSetup& setup, CliConsole& console,
                                 const AbortRequested& abortRequested);

}  // namespace quillon
