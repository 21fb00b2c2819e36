#pragma once

#include <cstdio>
#include <string>

#include "cli/cli_options.h"

// A production run: one station per port, each board worked on by a program of its own (this
// program again, for one board of one port), all started together; board after board with
// --repeat. Shows the stations' log lines and status, ends with the summary table on stdout,
// and returns the exit status: 0 when every board of every station succeeded, 1 when any
// failed, 130 when the run was aborted. `monitorFile` is the checked target's file; the
// image has been checked and the record file opened already.
int RunProduction(const CliOptions& options, const std::string& program,
                  const std::string& monitorFile, bool errIsTerminal, bool sharedTerminal);
