#include "window/download_window_state.h"

#include "link/serial_link.h"

namespace {

constexpr const char* kAbortedByUser = "Aborted by user!";

}  // namespace

DownloadWindowState::DownloadWindowState(std::atomic<int>& stopFlag) : m_stopFlag(stopFlag) {}

WindowControls DownloadWindowState::Controls() const {
    WindowControls controls;
    switch (m_state) {
        case WindowJobState::kNotReady:
            controls = {true, false, "Close", true};
            break;
        case WindowJobState::kInitializing:
            controls = {false, false, "Cancel", false};
            break;
        case WindowJobState::kReady:
            controls = {true, true, "Close", true};
            break;
        case WindowJobState::kDownloading:
            controls = {false, false, "Close", false};
            break;
    }
    return controls;
}

bool DownloadWindowState::JobRunning() const {
    return m_state == WindowJobState::kInitializing || m_state == WindowJobState::kDownloading;
}

bool DownloadWindowState::BeginInitialize() {
    if (JobRunning()) {
        return false;
    }
    m_state = WindowJobState::kInitializing;
    m_stopFlag = 0;
    return true;
}

bool DownloadWindowState::BeginDownload() {
    if (m_state != WindowJobState::kReady) {
        return false;
    }
    m_state = WindowJobState::kDownloading;
    m_stopFlag = 0;
    return true;
}

CloseButtonAction DownloadWindowState::OnCloseButton() {
    // The flag is 0 exactly while a job runs that nobody asked to abort yet.
    if (JobRunning() && m_stopFlag == 0) {
        m_stopFlag = 1;  // the worker ends the job at its next poll point
        return CloseButtonAction::kRequestAbort;
    }
    return CloseButtonAction::kCloseWindow;
}

std::vector<std::string> DownloadWindowState::OnJobDone(bool aborted, bool succeeded,
                                                        const std::string& lastLogLine,
                                                        const std::string& port) {
    if (!JobRunning()) {
        return {};
    }
    std::vector<std::string> lines;
    // Only a job that succeeded leaves the monitor ready for a download.
    if (succeeded) {
        m_state = WindowJobState::kReady;
    } else {
        m_state = WindowJobState::kNotReady;
        if (aborted) {
            lines.emplace_back(kAbortedByUser);
        } else if (std::string hint = PortOpenHint(lastLogLine, port); !hint.empty()) {
            // A port this user may not open: say what to do about it.
            lines.push_back(std::move(hint));
        }
    }
    m_stopFlag = 1;
    return lines;
}

void DownloadWindowState::OnWorkerEnded() {
    // No job can run without its worker; the port closed with it.
    m_state = WindowJobState::kNotReady;
    m_stopFlag = 1;
}
