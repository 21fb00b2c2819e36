#include "tests/support/recording_view.h"

#include <chrono>

namespace quillon {

std::vector<std::string> RecordingView::Take() {
    std::vector<std::string> lines;
    lines.swap(m_lines);
    return lines;
}

void RecordingView::ShowList(WindowList list, const std::vector<std::string>& entries,
                             int selected) {
    const char* names[] = {"target", "port", "baud"};
    std::string line = std::string("list ") + names[static_cast<int>(list)] + " ";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        line += (i == 0 ? "" : ",") + entries[i];
    }
    Write(line + " @" + std::to_string(selected));
}

void RecordingView::ShowControls(const WindowControls& controls) {
    Write(std::string("controls ") + (controls.initializeEnabled ? "I" : "-") +
          (controls.startDownloadEnabled ? "D " : "- ") + controls.closeButtonCaption +
          (controls.closeEntryEnabled ? " on" : " off"));
}

void RecordingView::ShowLogChange(const LogLines::Change& change) {
    Write((change.replacesLast ? "log= " : "log ") + std::to_string(change.index) + " " +
          change.text);
}

void RecordingView::ShowProgress(std::uint32_t done, std::uint32_t total, ProgressLook look) {
    Write("progress " + std::to_string(done) + "/" + std::to_string(total) +
          (look == ProgressLook::kFailed ? " failed" : ""));
}

void RecordingView::ShowMessage(const WindowMessage& message) {
    Write(std::string("box ") + (message.icon == MessageIcon::kWarning ? "! " : "i ") +
          message.text);
    if (whileBoxOpen) {
        whileBoxOpen(message.text);
    }
    Write("ok");
}

void RecordingView::PostJobEvent(std::unique_ptr<JobEvent> event) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back(std::move(event));
    m_posted.notify_all();
}

std::vector<JobEvent> RecordingView::TakePosted() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<JobEvent> events;
    for (const std::unique_ptr<JobEvent>& event : m_events) {
        events.push_back(*event);
    }
    m_events.clear();
    return events;
}

bool RecordingView::DeliverUntilJobEnds(MainWindowController& controller) {
    while (controller.JobRunning()) {
        std::unique_ptr<JobEvent> event;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_posted.wait_for(lock, std::chrono::seconds(30),
                                   [this] { return !m_events.empty(); })) {
                return false;
            }
            event = std::move(m_events.front());
            m_events.pop_front();
        }
        controller.OnJobEvent(*event);
    }
    return true;
}

}  // namespace quillon
