#include "link/job.h"

#include "helpers/text_format.h"

namespace quillon {

namespace {
constexpr std::uint64_t kProgressIntervalMs = 100;
}  // namespace

void Job::ShowReaderMessages(const std::string& file, const HexReadResult& read) const {
    for (const std::string& text : ReaderMessages(read)) {
        m_events.OnJobEvent(JobEvent::ReaderMessage(file, text));
    }
}

std::string Job::LogNoResponse() const {
    const std::string line = "No response from target (=> Activate BSL-Mode => Reset) !";
    Log(line);
    return line;
}

std::string Job::LogWrongAnswer(std::uint8_t expected, std::uint8_t received) const {
    const std::string line =
        FormatText("Wrong answer (Set 0x%02X::Act 0x%02X)!", static_cast<unsigned>(expected),
                   static_cast<unsigned>(received));
    Log(line);
    return line;
}

std::string Job::LogLineLost(const Error& why) const {
    const std::string line =
        m_port + ": the line was lost" + (why.text.empty() ? "" : " (" + why.text + ")");
    Log(line);
    Log(kLineLostLine);
    return line;
}

void Job::ReportProgress(ProgressPhase phase, std::uint32_t done, std::uint32_t total, bool final) {
    const std::uint64_t now = m_clock.NowMs();
    if (!final && m_progressReported && now - m_lastProgressMs < kProgressIntervalMs) {
        return;
    }
    m_progressReported = true;
    m_lastProgressMs = now;
    m_events.OnJobEvent(JobEvent::Progress(phase, done, total));
}

}  // namespace quillon
