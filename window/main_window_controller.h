#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "image/target_folders.h"
#include "window/download_window_state.h"
#include "window/job_starter.h"
#include "window/log_lines.h"
#include "window/main_window_view.h"
#include "window/window_command_line.h"
#include "window/window_lists.h"
#include "window/window_settings.h"

namespace quillon {

// Where the main window takes its targets, ports and jobs from.
struct MainWindowSources {
    TargetFolders targetFolders;       // the monitor files' folders (FindTargetFolders)
    PortEnumerator enumeratePorts;     // empty: EnumerateComPorts
    std::unique_ptr<JobStarter> jobs;  // empty: MakeJobRunner(), on the serial ports
    std::string settingsNote = {};     // the log's first line: a settings file left alone, if any
    // What the command line selects for this start: selected in place of the saved choices,
    // never recorded in the settings. A port that is not listed is named in the log and
    // leaves the list without a selection.
    StartSelection start = {};
    // The production view's station that holds `port` while its run uses it, named for the
    // operator ("station 2 (COM4)"); none when no station holds it. Empty: no production view.
    std::function<std::optional<std::string>(const std::string& port)> stationHolding = {};
};

// Everything the main window decides, whatever its toolkit: it fills the three lists and
// restores their selections from the settings, runs Initialize and Start Download, turns the
// jobs' events into log lines, progress, message boxes and button states, asks a running job to
// abort on button 1, records the selections in the settings and closes the window. A view
// (MainWindowView) shows what it decides and passes the operator's actions in; the job's
// events reach it through the view, in the GUI thread (OnJobEvent).
//
// Button 1 (and Enter) asks a running job to abort; pressed again, or while no job runs, it
// records the selections and "Erase all sectors" and closes the window with OK, on which the
// application saves them. Escape and the close box close it with Cancel, without an abort
// request, but do nothing while a job runs: a window hidden during a job would hold the port
// with nobody to see how the board ended. A window closed by button 1 after an abort request
// disappears at once; the job ends at its next poll point meanwhile.
//
// The progress bar keeps a job's end: full after a success; where the job stopped, in the
// failed look, after a failure or an abort. The status line (job_status_line.h) says the
// job's state and, once it has ended, its outcome.
class MainWindowController {
public:
    // `view` and `settings` must outlive the controller.
    MainWindowController(MainWindowView& view, WindowSettings& settings, MainWindowSources sources);
    // A job that still runs is asked to stop and waited for; the line closes. The view must
    // take posted events until then.
    ~MainWindowController();
    MainWindowController(const MainWindowController&) = delete;
    MainWindowController& operator=(const MainWindowController&) = delete;

    // The window opens: the image file field and "Erase all sectors" as the settings have it,
    // the target list (the reader's texts about each monitor file shown as it is read), the
    // port and baud rate lists with the saved selections, the controls of "not ready"; the
    // log starts with the settings note, when there is one.
    void Open();
    // Puts `path` into the image file field (a file named on the command line).
    void SetImageFile(const std::string& path);

    // The operator's actions.
    void OnInitialize();
    void OnStartDownload();
    void OnCloseButton();  // button 1 and Enter
    void OnCancel();       // Escape, and the frame's close: nothing while a job runs
    bool MayCloseFromFrame() const { return m_state.MayCloseFromFrame(); }
    void OnTargetSelected(int index) { m_targets.selected = index; }
    void OnPortSelected(int index);
    void OnBaudrateSelected(int index);
    // After the Options dialog was confirmed: the baud rate list with the rates it holds now,
    // the selection kept when its rate is still listed.
    void OnOptionsAccepted();
    void OnPortListOpening();  // the list drops down: ports that came since show up
    void OnImageFileEdited(const std::string& text) { m_imageFileText = text; }
    void OnEraseAllChanged(bool checked) { m_eraseAllChecked = checked; }
    void OnClearLog();

    // A job's event, in the GUI thread, as the view posted it. Events that come while the box of
    // an earlier one is open wait until the operator has confirmed it, so the log keeps the
    // job's order and the job's end is handled once, after its texts.
    void OnJobEvent(const JobEvent& event);

    bool JobRunning() const { return m_state.JobRunning(); }
    const DownloadWindowState& State() const { return m_state; }

private:
    void HandleJobEvent(const JobEvent& event);
    void StartJob(JobRequest request);
    // True, said in a message box, when a station of the production view holds the selected
    // port: the job would fight the station's program for its board.
    bool PortHeldByStation();
    // The image file text and "Erase all sectors" taken from the controls.
    void TakeFields();
    void CloseWindow(int result);
    void AddLogLine(const std::string& text);
    // The notes on the user's list of ports, in the log when they are new.
    void ShowPortListNotes(const std::vector<std::string>& notes);
    void ShowProgress(std::uint32_t done, std::uint32_t total, ProgressLook look);
    // The baud rate list, the offered and the added rates, with the selection.
    void ShowBaudRateList();
    // The status line, shown when it changes.
    void ShowStatus(const std::string& text);
    // A download whose answers showed an adapter's latency timer: how to lower it, in one log
    // line, once per port.
    void AdviseOnLatencyTimer(const JobResult& result);
    // The port and baud rate selected now (the defaults for none), without recording them.
    LineSettings SelectedLine() const;
    // The port and baud rate selected, and the target selected, recorded in the settings; what
    // has no selection keeps its setting.
    void RecordLineSelection();
    void RecordTargetSelection();
    // Start Download on or off by whether the selection is still the monitor's line.
    void CheckSelection();
    // Reads the ports (again, when `previous` is given) and selects the wanted one: the
    // command line's port, exactly that name, or the saved one. Shows the list.
    void LoadPorts(const PortListEntries* previous, std::vector<std::string>* notes);

    MainWindowView& m_view;
    WindowSettings& m_settings;
    MainWindowSources m_sources;
    DownloadWindowState m_state;
    LogLines m_log;
    TargetListEntries m_targets;
    PortListEntries m_ports;
    std::vector<std::string> m_shownPortListNotes;
    std::vector<std::string> m_latencyAdvisedPorts;  // told about their latency timer once
    std::optional<BaudRate> m_baudRate;              // the list's selection
    std::string m_imageFileText;
    bool m_eraseAllChecked = false;
    LineSettings m_jobLine;            // the line of the running job, or of the last one
    std::uint32_t m_progressDone = 0;  // what the bar shows
    std::uint32_t m_progressTotal = 0;
    std::string m_status;  // what the status line shows
    std::deque<JobEvent> m_pendingEvents;
    bool m_handlingEvents = false;
    bool m_closed = false;
    std::unique_ptr<JobEventSink> m_events;  // posts to the view; outlives the jobs
    std::unique_ptr<JobStarter> m_jobs;
};

}  // namespace quillon
