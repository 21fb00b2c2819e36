#pragma once

#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

#include "link/job_events.h"

namespace quillon {

// What a job reported, as a front end shows it: log lines with appended text joined to their
// line, progress, the reader's and the debug texts, and every done event. It can ask a job to
// stop at a point of its log.
class JobRecorder : public JobEventSink {
public:
    struct Progress {
        ProgressPhase phase;
        std::uint32_t done;
        std::uint32_t total;
        friend bool operator==(const Progress&, const Progress&) = default;
    };

    std::vector<std::string> lines;
    std::vector<Progress> progress;
    std::vector<std::string> readerMessages;  // "file: text"
    std::vector<std::string> debug;
    std::vector<JobResult> done;  // exactly one for a sound job
    int eventsAfterDone = 0;      // none for a sound job

    // The one result (an empty one, failed, when there was none).
    JobResult result() const { return done.empty() ? JobResult{} : done.back(); }

    // Asks `source` to stop once the log's last line reads `line` (appended text included),
    // or once progress reports `progressDone` bytes or more.
    void StopAtLine(std::stop_source source, std::string line);
    void StopAtProgress(std::stop_source source, std::uint32_t progressDone);

    void OnJobEvent(const JobEvent& event) override;

private:
    void Record(const JobEvent& event);

    std::stop_source m_stop{std::nostopstate};
    std::string m_stopLine;
    std::uint32_t m_stopProgress = 0;
};

}  // namespace quillon
