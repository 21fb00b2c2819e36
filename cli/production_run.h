#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "cli/cli_options.h"
#include "cli/station.h"

// A production run: one station per port, each board worked on by a program of its own (this
// program again, for one board of one port), all started together; board after board with
// --repeat. Shows the stations' log lines and status, ends with the summary table on stdout,
// and returns the exit status: 130 when a board was aborted, else 1 when any board failed,
// else 2 when a station was refused (its port turned out to be another station's device),
// else 0. `monitorFile` is the checked target's file; the image has been checked and the
// record file opened already (`record`).
// `abortRequestedBefore` tells whether a stop came before the run took the signals over.
int RunProduction(const CliOptions& options, const std::string& program,
                  const std::string& monitorFile, const RecordSetup& record,
                  const std::function<bool()>& abortRequestedBefore, bool errIsTerminal,
                  bool sharedTerminal);
