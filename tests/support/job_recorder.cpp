#include "tests/support/job_recorder.h"

namespace quillon {

void JobRecorder::StopAtLine(std::stop_source source, std::string line) {
    m_stop = std::move(source);
    m_stopLine = std::move(line);
}

void JobRecorder::StopAtProgress(std::stop_source source, std::uint32_t progressDone) {
    m_stop = std::move(source);
    m_stopProgress = progressDone;
}

void JobRecorder::OnJobEvent(const JobEvent& event) {
    if (!done.empty()) {
        ++eventsAfterDone;
    }
    Record(event);
    const bool atLine = !m_stopLine.empty() && !lines.empty() && lines.back() == m_stopLine;
    const bool atProgress =
        m_stopProgress > 0 && !progress.empty() && progress.back().done >= m_stopProgress;
    if (atLine || atProgress) {
        m_stop.request_stop();
    }
}

void JobRecorder::Record(const JobEvent& event) {
    switch (event.kind) {
        case JobEvent::Kind::kLine:
            lines.push_back(event.text);
            break;
        case JobEvent::Kind::kAppend:
            if (lines.empty()) {
                lines.emplace_back();
            }
            lines.back() += event.text;
            break;
        case JobEvent::Kind::kProgress:
            progress.push_back({event.phase, event.done, event.total});
            break;
        case JobEvent::Kind::kReaderMessage:
            readerMessages.push_back(event.file + ": " + event.text);
            break;
        case JobEvent::Kind::kDebug:
            debug.push_back(event.text);
            break;
        case JobEvent::Kind::kDone:
            done.push_back(event.result);
            break;
        default:
            break;  // what a program adds around its jobs: no job reports it
    }
}

}  // namespace quillon
