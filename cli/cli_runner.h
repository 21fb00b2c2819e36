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

// Runs Initialize and, unless options.initOnly, Start Download with `monitorFile`, on the
// same worker and messages as the window. Returns the exit status.
int RunJobs(const CliOptions& options, const std::string& monitorFile, CliConsole& console);
