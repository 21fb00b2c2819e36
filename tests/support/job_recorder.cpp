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

void JobRecorder::Event() {
    if (!done.empty()) {
        ++eventsAfterDone;
    }
    const bool atLine = !m_stopLine.empty() && !lines.empty() && lines.back() == m_stopLine;
    const bool atProgress =
        m_stopProgress > 0 && !progress.empty() && progress.back().done >= m_stopProgress;
    if (atLine || atProgress) {
        m_stop.request_stop();
    }
}

void JobRecorder::OnLine(const std::string& text) {
    lines.push_back(text);
    Event();
}

void JobRecorder::OnAppend(const std::string& text) {
    if (lines.empty()) {
        lines.emplace_back();
    }
    lines.back() += text;
    Event();
}

void JobRecorder::OnProgress(ProgressPhase phase, std::uint32_t bytesDone, std::uint32_t total) {
    progress.push_back({phase, bytesDone, total});
    Event();
}

void JobRecorder::OnReaderMessage(const std::string& file, const std::string& text) {
    readerMessages.push_back(file + ": " + text);
    Event();
}

void JobRecorder::OnDebug(const std::string& text) {
    debug.push_back(text);
    Event();
}

void JobRecorder::OnDone(const JobResult& result) {
    Event();
    done.push_back(result);
}

}  // namespace quillon
