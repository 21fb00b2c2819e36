#pragma once

#include <string>
#include <utility>

#include "helpers/result.h"
#include "link/job_events.h"

namespace quillon {

// Exit statuses of quillon-cli.
constexpr int kExitSuccess = 0;
constexpr int kExitJobFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitAborted = 130;

// The one place quillon-cli turns what ended a run into its status.
// A run that ended with `error`, from its kind: a usage error 2, an abort 130, anything else 1.
constexpr int ExitStatusOf(const Error& error) {
    return error.kind == ErrorKind::kUsage     ? kExitUsage
           : error.kind == ErrorKind::kAborted ? kExitAborted
                                               : kExitJobFailed;
}
// 0 for success, else the status of its error.
inline int ExitStatusOf(const Status& status) {
    return status ? kExitSuccess : ExitStatusOf(status.error());
}

// A job's or a board's result: 0 succeeded, 1 failed, 130 aborted.
inline int ExitStatusOf(const JobResult& result) {
    return result.succeeded() ? kExitSuccess : result.aborted() ? kExitAborted : kExitJobFailed;
}

// A board's result for its exit status and its failure (empty when it is ok).
[[nodiscard]] inline JobResult BoardResult(int status, std::string failure) {
    if (status == kExitSuccess) {
        return {JobOutcome::kSucceeded, FailureReason::kNone, std::move(failure)};
    }
    if (status == kExitAborted) {
        return {JobOutcome::kAborted, FailureReason::kAborted, std::move(failure)};
    }
    return {JobOutcome::kFailed, FailureReason::kNone, std::move(failure)};
}

// A board's result as the record and the summary name it.
inline const char* ResultName(int status) {
    return status == kExitSuccess ? "ok" : (status == kExitAborted ? "aborted" : "failed");
}

// Says the usage error on stderr with the hint to --help; returns kExitUsage.
int UsageError(const std::string& error);

}  // namespace quillon
