#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/job_events.h"
#include "link/line_settings.h"

namespace quillon {

// What the main window decides about its jobs, the same for every window toolkit: the job
// state, what the job buttons, button 1 and the close entry show in each state, what button 1
// does, and what a job's end adds to the log. A window shows Controls() after every call that
// changes the state and passes the operator's actions and the jobs' ends in.
//
//   state         Initialize  Start Download  button 1   close entry  abort asked
//   not ready     on          off             "Close"    on           -
//   initializing  off         off             "Cancel"   off          once button 1 was pressed
//   ready         on          on              "Close"    on           -
//   downloading   off         off             "Close"    off          once button 1 was pressed
//
// In "ready" Start Download is on only while the port and baud rate selected are those the
// monitor was started on: the download goes to the board that Initialize reached.
enum class WindowJobState { kNotReady, kInitializing, kReady, kDownloading };

// What the operator sees of the job state.
struct WindowControls {
    bool initializeEnabled = true;
    bool startDownloadEnabled = false;
    std::string closeButtonCaption = "Close";
    bool closeEntryEnabled = true;  // the system menu's Close, the close box, Alt+F4

    bool operator==(const WindowControls&) const = default;
};

// What button 1 (or Enter) does.
enum class CloseButtonAction {
    kRequestAbort,  // a job runs and no abort was asked yet: ask the job to stop, nothing else
    kCloseWindow,   // record the selections and end the dialog with OK
};

// What to tell the operator about a port this user may not open (SerialPortPermissionHint),
// or nothing.
using PortPermissionHint = std::function<std::string(const std::string& port)>;

class DownloadWindowState {
public:
    // `permissionHint` empty: SerialPortPermissionHint, which looks at the device itself.
    explicit DownloadWindowState(PortPermissionHint permissionHint = {});

    WindowJobState State() const { return m_state; }
    WindowControls Controls() const;
    bool JobRunning() const;
    // Whether button 1 has asked the running job to stop.
    bool AbortRequested() const { return m_abortRequested; }

    // "Initialize": from not ready or ready to initializing. Returns false, changing nothing,
    // while a job runs.
    bool BeginInitialize();
    // "Start Download": from ready to downloading. Returns false, changing nothing, in any
    // other state and while the selection differs from the monitor's line.
    bool BeginDownload();

    // The port and baud rate selected now, and those of the job that runs or of the Initialize
    // that started the monitor (the window's last job): after each change of the selection and
    // after each job's end. While they differ in "ready", Start Download is off. Returns the log
    // line that says why the first time it is off for this reason, else nothing.
    std::optional<std::string> OnSelectionChanged(const LineSettings& selected,
                                                  const LineSettings& monitorLine);

    // Button 1 or Enter.
    CloseButtonAction OnCloseButton();

    // The close box, Alt+F4 or the system menu's Close: false while a job runs (they are
    // disabled then), true otherwise (the window ends with Cancel).
    bool MayCloseFromFrame() const { return !JobRunning(); }

    // A job's end. Returns the log lines the window adds, in order: "Aborted by user!" after
    // an aborted job; after one that could not open or set up `port`, the port and the
    // system's reason, and what to do when the reason is a permission this user lacks. A job's end
    // while no job runs changes nothing and adds nothing.
    std::vector<std::string> OnJobDone(const JobResult& result, const std::string& port);

private:
    PortPermissionHint m_permissionHint;
    WindowJobState m_state = WindowJobState::kNotReady;
    bool m_abortRequested = false;
    bool m_selectionIsMonitorLine = true;
    bool m_selectionChangeSaid = false;  // the log says why Start Download is off
};

}  // namespace quillon
