#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace quillon {

// What a job reports while it runs, and how it ended.

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

// How the target answered the download's blocks, for a download that had at least one block
// answered.
struct DownloadTiming {
    // The median of the blocks' answer delays: from a block's last byte on the wire to the
    // arrival of its answer. The target's own time is well below a millisecond; a USB adapter's
    // latency timer holds the answer back for up to its setting.
    std::uint64_t answerDelayUs = 0;
    // The image bytes of the answered blocks per second, from the first block's send to the
    // last block's answer.
    std::uint64_t bytesPerSecond = 0;

    // A median delay above this shows an adapter's latency timer (16 ms is a common default;
    // 1 ms when lowered) rather than the target.
    static constexpr std::uint64_t kLatencyTimerShownAboveUs = 4000;
    bool ShowsLatencyTimer() const { return answerDelayUs > kLatencyTimerShownAboveUs; }
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
    // Start Download: how its blocks were answered; none when no block was answered.
    std::optional<DownloadTiming> downloadTiming;

    bool succeeded() const { return outcome == JobOutcome::kSucceeded; }
    bool aborted() const { return outcome == JobOutcome::kAborted; }
};

// The line a front end logs for an aborted job.
inline constexpr const char* kAbortedLine = "Aborted by user!";

// One thing a job, or the program that runs it, reports while it runs: the one shape of event
// for every place it goes (a window, the terminal, a production run's station, the record).
// A job's events come from the job's own thread; a window carries them to its GUI thread as
// they are. The kinds after kDone are what a program adds around its jobs for the production
// run that started it.
struct JobEvent {
    enum class Kind {
        kLine,             // text: a new log line
        kAppend,           // text: appended to the last log line (the "*" of programming)
        kProgress,         // phase, done of total: at most every 100 ms, and at a phase's end
        kReaderMessage,    // text: the file reader's message about `file`, shown as it stands
        kMessage,          // text: a message of the program itself, for the operator
        kDebug,            // text: for a developer only (the bytes of a partial answer)
        kDone,             // result: a job's last event, exactly once
        kFlashedDigest,    // text: the SHA-256 of the image as it is to be programmed
        kDownloadStart,    // Start Download begins (Initialize ended well)
        kUnwrittenRecord,  // text: a record line (without line end) for the run to write
        kAlive,            // the job still goes on (at most once a second while it runs)
        kBoardEnd,         // result: how the board went (outcome, failing text), at its end
    };

    static JobEvent Line(std::string text) { return Of(Kind::kLine, std::move(text)); }
    static JobEvent Append(std::string text) { return Of(Kind::kAppend, std::move(text)); }
    static JobEvent Progress(ProgressPhase phase, std::uint32_t done, std::uint32_t total) {
        JobEvent event = Of(Kind::kProgress);
        event.phase = phase;
        event.done = done;
        event.total = total;
        return event;
    }
    static JobEvent ReaderMessage(std::string file, std::string text) {
        JobEvent event = Of(Kind::kReaderMessage, std::move(text));
        event.file = std::move(file);
        return event;
    }
    static JobEvent Message(std::string text) { return Of(Kind::kMessage, std::move(text)); }
    static JobEvent Debug(std::string text) { return Of(Kind::kDebug, std::move(text)); }
    static JobEvent Done(JobResult result) {
        JobEvent event = Of(Kind::kDone);
        event.result = std::move(result);
        return event;
    }
    static JobEvent FlashedDigest(std::string sha256) {
        return Of(Kind::kFlashedDigest, std::move(sha256));
    }
    static JobEvent DownloadStart() { return Of(Kind::kDownloadStart); }
    static JobEvent UnwrittenRecord(std::string line) {
        return Of(Kind::kUnwrittenRecord, std::move(line));
    }
    static JobEvent Alive() { return Of(Kind::kAlive); }
    static JobEvent BoardEnd(JobResult result) {
        JobEvent event = Of(Kind::kBoardEnd);
        event.result = std::move(result);
        return event;
    }
    // An event of `kind` with `text`, its other fields empty.
    static JobEvent Of(Kind kind, std::string text = {}) {
        JobEvent event;
        event.kind = kind;
        event.text = std::move(text);
        return event;
    }

    Kind kind = Kind::kLine;
    std::string text;  // see the kinds
    std::string file;  // kReaderMessage: the file the reader's text is about
    ProgressPhase phase = ProgressPhase::kMonitorUpload;  // kProgress
    std::uint32_t done = 0;                               // kProgress
    std::uint32_t total = 0;                              // kProgress
    JobResult result;                                     // kDone, kBoardEnd
};

// Where a job's events go: called from the job's thread, in order.
class JobEventSink {
public:
    virtual ~JobEventSink() = default;
    virtual void OnJobEvent(const JobEvent& event) = 0;
};

}  // namespace quillon
