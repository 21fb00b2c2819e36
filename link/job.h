#pragma once

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>

#include "image/hex_reader.h"
#include "link/job_events.h"
#include "link/line_settings.h"
#include "link/target_line.h"
#include "platform/clock.h"

namespace quillon {

// The failure line of a job whose line was lost, after the line that names the port and why.
inline constexpr const char* kLineLostLine =
    "Line to the target lost (=> Check the adapter and its cable) !";

// What both jobs share: the line, the clock, the stop request, the time-outs and the ways
// they report.
class Job {
public:
    Job(Clock& clock, std::stop_token stop, JobEventSink& events, const Timeouts& timeouts)
        : m_clock(clock), m_stop(std::move(stop)), m_events(events), m_timeouts(timeouts) {}

protected:
    // The line the job talks over, once it has one, and the port's name for the log.
    void UseChannel(ByteChannel& channel, const std::string& port) {
        m_line.emplace(channel, m_clock, m_events);
        m_port = port;
    }
    TargetLine& line() { return *m_line; }

    void Log(const std::string& text) const { m_events.OnJobEvent(JobEvent::Line(text)); }
    void Append(const std::string& text) const { m_events.OnJobEvent(JobEvent::Append(text)); }
    // The owner's stop request, looked at only at the poll points.
    bool StopRequested() const { return m_stop.stop_requested(); }
    StopCheck StopCheckForReads() const {
        return [stop = m_stop] { return stop.stop_requested(); };
    }
    // The reader's texts about `file`, in order.
    void ShowReaderMessages(const std::string& file, const HexReadResult& read) const;

    // "No response from target (=> Activate BSL-Mode => Reset) !"
    std::string LogNoResponse() const;
    // "Wrong answer (Set 0x%02X::Act 0x%02X)!"
    std::string LogWrongAnswer(std::uint8_t expected, std::uint8_t received) const;
    // A write that failed: logs "PORT: the line was lost (REASON)" and then the job's failure
    // line, which sends the operator to the adapter instead of to the target. Returns the
    // first, which names the port and the reason: the job's failure.
    std::string LogLineLost(const Error& why) const;

    // Progress of the running phase, reported at most every 100 ms unless `final`.
    void ReportProgress(ProgressPhase phase, std::uint32_t done, std::uint32_t total, bool final);

    // The one done event.
    void EndSucceeded() const { End({JobOutcome::kSucceeded, FailureReason::kNone}); }
    void EndFailed(FailureReason reason, std::string text, std::string detail = {}) const {
        End({JobOutcome::kFailed, reason, std::move(text), std::move(detail)});
    }
    void EndAborted() const { End({JobOutcome::kAborted, FailureReason::kAborted, kAbortedLine}); }

    Clock& m_clock;
    std::stop_token m_stop;
    // What the done event carries of a download's answer times.
    std::optional<DownloadTiming> m_downloadTiming;
    JobEventSink& m_events;
    const Timeouts& m_timeouts;

private:
    void End(JobResult result) const {
        result.downloadTiming = m_downloadTiming;
        m_events.OnJobEvent(JobEvent::Done(std::move(result)));
    }

    std::optional<TargetLine> m_line;
    std::string m_port;
    std::uint64_t m_lastProgressMs = 0;
    bool m_progressReported = false;
};

}  // namespace quillon
