#pragma once

#include <atomic>
#include <string>
#include <vector>

// What the main window decides about its jobs, the same for every window toolkit: the job
// state, what the job buttons, button 1 and the close entry show in each state, what button 1
// does, and what a job's end adds to the log. A window shows Controls() after every call that
// changes the state and passes the operator's actions and the worker's done messages in.
//
//   state         Initialize  Start Download  button 1   close entry  abort flag
//   not ready     on          off             "Close"    on           1
//   initializing  off         off             "Cancel"   off          0 (1: abort asked)
//   ready         on          on              "Close"    on           1
//   downloading   off         off             "Close"    off          0 (1: abort asked)
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
    kRequestAbort,  // a job runs and no abort was asked yet: the flag is now 1, nothing else
    kCloseWindow,   // record the selections and end the dialog with OK
};

class DownloadWindowState {
public:
    // `stopFlag` is the worker's abort flag (g_bStopJob); it is 1 while no job runs.
    explicit DownloadWindowState(std::atomic<int>& stopFlag);

    WindowJobState State() const { return m_state; }
    WindowControls Controls() const;
    bool JobRunning() const;

    // "Initialize": from not ready or ready to initializing; clears the abort flag. Returns
    // false, changing nothing, while a job runs.
    bool BeginInitialize();
    // "Start Download": from ready to downloading; clears the abort flag. Returns false,
    // changing nothing, in any other state.
    bool BeginDownload();

    // Button 1 or Enter.
    CloseButtonAction OnCloseButton();

    // The close box, Alt+F4 or the system menu's Close: false while a job runs (they are
    // disabled then), true otherwise (the window ends with Cancel).
    bool MayCloseFromFrame() const { return !JobRunning(); }

    // A job's done message. Returns the log lines the window adds, in order: "Aborted by
    // user!" after an aborted job, or, after a failed one whose last log line says the port
    // could not be opened for lack of permission, the hint what to do. Sets the abort flag
    // back to 1. A done message while no job runs changes nothing and adds nothing.
    std::vector<std::string> OnJobDone(bool aborted, bool succeeded, const std::string& lastLogLine,
                                       const std::string& port);

    // The worker ended (the window closed with no job running): the port is closed with it,
    // so a later job starts from Initialize.
    void OnWorkerEnded();

private:
    std::atomic<int>& m_stopFlag;
    WindowJobState m_state = WindowJobState::kNotReady;
};
