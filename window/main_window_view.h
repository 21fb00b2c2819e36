#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/job_events.h"
#include "window/download_window_state.h"
#include "window/log_lines.h"
#include "window/window_message.h"

namespace quillon {

// How the progress bar looks: running (or done), or stopped by a failure or an abort.
enum class ProgressLook { kNormal, kFailed };

// The main window's three drop-down lists.
enum class WindowList { kTarget, kPort, kBaudrate };

// What MainWindowController drives: the window of a toolkit (the Qt window, the Win32 window)
// or a test's recording. Every call but PostJobEvent comes in the window's GUI thread. A view
// turns the operator's actions into the controller's On... calls, in that thread too.
class MainWindowView {
public:
    virtual ~MainWindowView() = default;

    // `list` shows `entries` in this order, entry `selected` selected (kNoSelection: none); the
    // view reports the operator's selections by these indices.
    virtual void ShowList(WindowList list, const std::vector<std::string>& entries,
                          int selected) = 0;
    // The port list's descriptions, one for each entry of its last ShowList, in that order:
    // the open list shows each beside its port's name, the closed list the name alone.
    virtual void ShowPortDescriptions(const std::vector<std::string>& descriptions) = 0;
    virtual void ShowImageFile(const std::string& path) = 0;
    virtual void ShowEraseAll(bool checked) = 0;
    // The job buttons' enabled states, button 1's caption and the close entry.
    virtual void ShowControls(const WindowControls& controls) = 0;
    // A new last line of the log, or its last line extended; the list scrolls to that line.
    virtual void ShowLogChange(const LogLines::Change& change) = 0;
    virtual void ClearLog() = 0;
    // `done` of `total` bytes of the running phase; total 0: an empty bar. kFailed: the bar
    // stays where a failed or aborted job stopped and shows that it failed (until the next
    // job's first call).
    virtual void ShowProgress(std::uint32_t done, std::uint32_t total, ProgressLook look) = 0;
    // The status line below the window's controls (job_status_line.h); empty: none.
    virtual void ShowStatus(const std::string& text) = 0;
    // A modal box with an OK button, over the window; returns once the operator has confirmed
    // it. The GUI thread's loop may hand the controller further job events meanwhile.
    virtual void ShowMessage(const WindowMessage& message) = 0;
    // Text for a developer (a partial answer of the target), never for the operator.
    virtual void WriteDebugText(const std::string& text) = 0;
    // The window disappears at once and ends its modal run with `result` (1 OK, 2 Cancel) once
    // no job runs any more: while the controller's job still runs, the view goes on handing
    // its events to the controller.
    virtual void Close(int result) = 0;
    // Called from the job's thread: carries `event` to the GUI thread and hands it to
    // MainWindowController::OnJobEvent there, in the order posted. An event that can no longer
    // reach the window is dropped and freed.
    virtual void PostJobEvent(std::unique_ptr<JobEvent> event) = 0;
};

}  // namespace quillon
