#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace quillon {

// What a job reports while it runs, and how it ended. The events come from the job's own
// thread; a window marshals them onto its GUI thread itself.

enum class ProgressPhase : unsigned {
    kMonitorUpload = 1,  // the monitor's bytes, each echoed by the target
    kProgramming = 2,    // the image's bytes in 128-byte blocks
};

enum class JobOutcome {
    kSucceeded,
    kFailed,
    kAborted,  // ended at a poll point on the owner's stop request
};

// Why a job did not succeed.
enum class FailureReason {
    kNone,
    kAborted,
    kPortUnavailable,      // "Unable to open COM port!"
    kPortSettings,         // "Error initializing COM port!"
    kNoPort,               // Start Download without a port that Initialize opened
    kFileUnreadable,       // the reader could not read the monitor or image file
    kNoMonitorHeader,      // "Invalid monitor file!\nNo specification found."
    kIncompatibleMonitor,  // "Invalid monitor file!\nIncompatible specification."
    kNoAnswer,             // "No response from target ..."
    kWrongAnswer,          // "Wrong answer (Set ...::Act ...)!"
    kRamTestFailed,        // "RAM test failed at address ..."
    kNoData,               // the image holds no data and nothing is to be erased
    kUnknownFlashType,     // "Wrong flash type ...!"
    kWrongCrc,             // "Wrong CRC!"
    kTargetError,          // "Error X!"
    kLineLost,             // a write failed: "PORT: the line was lost (REASON)"
};

struct JobResult {
    JobResult() = default;
    JobResult(JobOutcome outcome_, FailureReason reason_, std::string text_ = {},
              std::string detail_ = {})
        : outcome(outcome_), reason(reason_), text(std::move(text_)), detail(std::move(detail_)) {}

    JobOutcome outcome = JobOutcome::kFailed;
    FailureReason reason = FailureReason::kNone;
    // Why, in the words the operator saw: the failing log line, the reader's message for a
    // file that could not be read, "Aborted by user!"; empty on success.
    std::string text;
    // For a port that could not be opened or set up: the port and the system's reason
    // ("COM7: not found"), a second line for the operator; empty otherwise.
    std::string detail;

    bool succeeded() const { return outcome == JobOutcome::kSucceeded; }
    bool aborted() const { return outcome == JobOutcome::kAborted; }
};

// The line a front end logs for an aborted job.
inline constexpr const char* kAbortedLine = "Aborted by user!";

class JobEvents {
public:
    virtual ~JobEvents() = default;
    // A new log line.
    virtual void OnLine(const std::string& text) = 0;
    // Text appended to the last log line (the "*" of programming).
    virtual void OnAppend(const std::string& text) = 0;
    // Bytes done of the phase's total; at most every 100 ms, and once at the phase's end.
    virtual void OnProgress(ProgressPhase phase, std::uint32_t done, std::uint32_t total) = 0;
    // A text of the file reader about `file`, for the operator (German, shown as it stands).
    virtual void OnReaderMessage(const std::string& file, const std::string& text) = 0;
    // Text for a developer (the bytes of a partial answer), never for the operator.
    virtual void OnDebug(const std::string& text) = 0;
    // Exactly once, the job's last event.
    virtual void OnDone(const JobResult& result) = 0;
};

}  // namespace quillon
