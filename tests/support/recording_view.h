#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "window/main_window_controller.h"

namespace quillon {

// A MainWindowView for tests: it writes down what the controller shows, one line per call, and
// keeps the job events posted to it (from any thread) until the test hands them on, as a
// window's GUI thread would.
//
//   list <target|port|baud> <entries joined by ','> @<selected>
//   image <path>                  erase <0|1>
//   controls <I|-><D|-> <caption> <on|off>   (Initialize, Start Download, button 1, close entry)
//   log <index> <text>            log= <index> <text>   (the last line extended)     clear
//   progress <done>/<total>[ failed]   debug <text>     close <result>
//   box <!|i> <text>, then ok once the box is confirmed
class RecordingView : public MainWindowView {
public:
    // The lines written since the last call, and no more.
    std::vector<std::string> Take();

    // The status line's texts shown so far, in order (kept apart from the other lines).
    std::vector<std::string> statuses;

    // What happens while a box is open, before ShowMessage returns (the nested loop of a real
    // window): the box's text is passed.
    std::function<void(const std::string&)> whileBoxOpen;
    // The port list's descriptions as last shown (not written down as a line).
    std::vector<std::string> portDescriptions;

    // Hands the posted events to `controller`, in order, until its job has ended; false when
    // none came for 30 s (a hang, which the test reports).
    bool DeliverUntilJobEnds(MainWindowController& controller);
    // The events posted so far, taken without handing them on.
    std::vector<JobEvent> TakePosted();

    void ShowList(WindowList list, const std::vector<std::string>& entries, int selected) override;
    void ShowPortDescriptions(const std::vector<std::string>& descriptions) override {
        portDescriptions = descriptions;
    }
    void ShowImageFile(const std::string& path) override { Write("image " + path); }
    void ShowEraseAll(bool checked) override { Write(checked ? "erase 1" : "erase 0"); }
    void ShowControls(const WindowControls& controls) override;
    void ShowLogChange(const LogLines::Change& change) override;
    void ClearLog() override { Write("clear"); }
    void ShowProgress(std::uint32_t done, std::uint32_t total, ProgressLook look) override;
    void ShowStatus(const std::string& text) override { statuses.push_back(text); }
    void ShowMessage(const WindowMessage& message) override;
    void WriteDebugText(const std::string& text) override { Write("debug " + text); }
    void Close(int result) override { Write("close " + std::to_string(result)); }
    void PostJobEvent(std::unique_ptr<JobEvent> event) override;

private:
    void Write(std::string line) { m_lines.push_back(std::move(line)); }

    std::vector<std::string> m_lines;
    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<std::unique_ptr<JobEvent>> m_events;  // guarded by m_mutex
};

}  // namespace quillon
