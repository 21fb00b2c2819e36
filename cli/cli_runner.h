#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "cli/cli_console.h"
#include "cli/cli_options.h"

// Exit statuses of quillon-cli.
constexpr int kExitSuccess = 0;
constexpr int kExitJobFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitAborted = 130;

// A board's result as the record and the summary name it.
inline const char* ResultName(int status) {
    return status == kExitSuccess ? "ok" : (status == kExitAborted ? "aborted" : "failed");
}

// Set by SIGINT / SIGTERM / SIGHUP: the running job ends at its next step, no further job
// starts.
extern std::atomic<int> g_abortRequested;

// How the jobs of one board went, for the record file.
struct BoardOutcome {
    // Why the board is not ok; empty when it is: the file reader's last message when a file
    // could not be read, else the failing job's last log line ("Aborted by user!" when
    // aborted).
    std::string failure;
    double initSeconds = 0;
    double downloadSeconds = 0;  // 0 when Start Download did not run
};

// Runs Initialize and, unless options.initOnly, Start Download with `monitorFile`, on the
// same worker and messages as the window. Returns the exit status; `outcome`, when given,
// gets the failure and the jobs' durations. `onDownloadStart` is called when Start Download
// begins.
int RunJobs(const CliOptions& options, const std::string& monitorFile, CliConsole& console,
            BoardOutcome* outcome = nullptr, const std::function<void()>& onDownloadStart = {});
