#pragma once

#include <string>

namespace quillon {

// Exit statuses of quillon-cli.
constexpr int kExitSuccess = 0;
constexpr int kExitJobFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitAborted = 130;

// A board's result as the record and the summary name it.
inline const char* ResultName(int status) {
    return status == kExitSuccess ? "ok" : (status == kExitAborted ? "aborted" : "failed");
}

// Says the usage error on stderr with the hint to --help; returns kExitUsage.
int UsageError(const std::string& error);

}  // namespace quillon
