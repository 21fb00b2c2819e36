#include "window/download_window_state.h"

#include <utility>

#include "platform/serial_device.h"

namespace quillon {

DownloadWindowState::DownloadWindowState(PortPermissionHint permissionHint)
    : m_permissionHint(permissionHint ? std::move(permissionHint)
                                      : PortPermissionHint(SerialPortPermissionHint)) {}

WindowControls DownloadWindowState::Controls() const {
    switch (m_state) {
        case WindowJobState::kInitializing:
            return {false, false, "Cancel", false};
        case WindowJobState::kReady:
            return {true, m_selectionIsMonitorLine, "Close", true};
        case WindowJobState::kDownloading:
            return {false, false, "Close", false};
        case WindowJobState::kNotReady:
            break;
    }
    return {true, false, "Close", true};
}

bool DownloadWindowState::JobRunning() const {
    return m_state == WindowJobState::kInitializing || m_state == WindowJobState::kDownloading;
}

bool DownloadWindowState::BeginInitialize() {
    if (JobRunning()) {
        return false;
    }
    m_state = WindowJobState::kInitializing;
    m_abortRequested = false;
    m_selectionIsMonitorLine = true;  // the new monitor runs on what is selected now
    m_selectionChangeSaid = false;
    return true;
}

bool DownloadWindowState::BeginDownload() {
    if (m_state != WindowJobState::kReady || !m_selectionIsMonitorLine) {
        return false;
    }
    m_state = WindowJobState::kDownloading;
    m_abortRequested = false;
    return true;
}

std::optional<std::string> DownloadWindowState::OnSelectionChanged(
    const LineSettings& selected, const LineSettings& monitorLine) {
    m_selectionIsMonitorLine =
        selected.port == monitorLine.port && selected.baud == monitorLine.baud;
    if (m_selectionIsMonitorLine) {
        m_selectionChangeSaid = false;
    }
    // Said once each time the button goes off in "ready": also when the selection changed
    // while the Initialize ran.
    if (m_state != WindowJobState::kReady || m_selectionIsMonitorLine || m_selectionChangeSaid) {
        return std::nullopt;
    }
    m_selectionChangeSaid = true;
    const auto line = [](const LineSettings& settings) {
        return settings.port + " at " + std::to_string(settings.baud.bitsPerSecond) + " baud";
    };
    return "Start Download needs Initialize first: the monitor runs on " + line(monitorLine) +
           ", " + line(selected) + " is selected.";
}

CloseButtonAction DownloadWindowState::OnCloseButton() {
    if (JobRunning() && !m_abortRequested) {
        m_abortRequested = true;  // the job ends at its next poll point
        return CloseButtonAction::kRequestAbort;
    }
    return CloseButtonAction::kCloseWindow;
}

std::vector<std::string> DownloadWindowState::OnJobDone(const JobResult& result,
                                                        const std::string& port) {
    if (!JobRunning()) {
        return {};
    }
    // Only a job that succeeded leaves the monitor ready for a download.
    m_state = result.succeeded() ? WindowJobState::kReady : WindowJobState::kNotReady;
    m_abortRequested = false;
    std::vector<std::string> lines;
    if (result.aborted()) {
        lines.emplace_back(kAbortedLine);
        return lines;
    }
    // Which port, and why the system would not let the job use it.
    if (!result.detail.empty()) {
        lines.push_back(result.detail);
    }
    if (result.reason == FailureReason::kPortUnavailable) {
        // A port this user may not open: say what to do about it.
        if (std::string hint = m_permissionHint(port); !hint.empty()) {
            lines.push_back(std::move(hint));
        }
    }
    return lines;
}

}  // namespace quillon
