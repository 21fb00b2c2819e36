#pragma once

#include <atomic>
#include <string>

#include "cli/cli_console.h"
#include "cli/cli_options.h"

// Exit statuses of quillon-cli.
constexpr int kExitSuccess = 0;
constexpr int kExitJobFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitAborted = 130;

// Set by SIGINT / SIGTERM: the running job ends at its next step, no further job starts.
extern std::atomic<int> g_abortRequested;

// How the jobs of one board went, for the record file.
struct BoardOutcome {
    std::string failure;  // the last log line of the job that failed or was aborted; else empty
    double initSeconds = 0;
    double downloadSeconds = 0;  // 0 when Start Download did not run
};

// Runs Initialize and, unless options.initOnly, Start Download with `monitorFile`, on the
// same worker and messages as the window. Returns the exit status; `outcome`, when given,
// gets the failing line and the jobs' durations.
int RunJobs(const CliOptions& options, const std::string& monitorFile, CliConsole& console,
            BoardOutcome* outcome = nullptr);
