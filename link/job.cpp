#include "link/job.h"

#include "platform/text_format.h"

namespace {
constexpr std::uint32_t kProgressIntervalMs = 100;
}  // namespace

void Job::PostDone(unsigned message, bool aborted, bool succeeded) const {
    if (m_job.hWndOwner != nullptr) {
        m_job.hWndOwner->Post(message, aborted ? 1 : 0, succeeded ? 1 : 0);
    }
}

void Job::LogNoResponse() const {
    Log("No response from target (=> Activate BSL-Mode => Reset) !");
}

void Job::LogWrongAnswer(std::uint8_t expected, std::uint8_t received) const {
    Log(FormatText("Wrong answer (Set 0x%02X::Act 0x%02X)!", static_cast<unsigned>(expected),
                   static_cast<unsigned>(received)));
}

void Job::ReportProgress(ProgressPhase phase, std::uint32_t done, std::uint32_t total, bool final) {
    const std::uint32_t now = TickCountMs();
    if (!final && m_progressPosted && now - m_lastProgressTick < kProgressIntervalMs) {
        return;
    }
    m_progressPosted = true;
    m_lastProgressTick = now;
    if (m_job.hWndOwner != nullptr) {
        m_job.hWndOwner->Post(UM_PROGRESS, MakeProgressWParam(phase, done),
                              static_cast<LParam>(total));
    }
}
