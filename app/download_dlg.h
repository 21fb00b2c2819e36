#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <cstdint>
#include <memory>

#include "app/port_list.h"
#include "link/messages.h"
#include "link/worker_thread.h"
#include "window/download_window_state.h"
#include "window/log_lines.h"

namespace Ui {
class CDownloadDlg;
}

class CDownloadApp;
class QEventLoop;
class CImageFileEdit;
class PostedMessageEvent;
class QComboBox;
class WindowMessageTarget;

// The main window (template 102): target, port, baud rate and image file, "Erase all sectors",
// the job buttons "Initialize" and "Start Download", the Close/Cancel button and the log.
//
// The window starts the worker thread when it opens and hands it one job at a time; the worker
// answers with posted messages (log lines, appended text, progress, one done message per job),
// which the window turns into log lines and button states. What it decides lives in the
// toolkit-free layer (window/): the job state with its controls (DownloadWindowState), the log
// (LogLines, which the list mirrors), the lists' entries and selections. Its job state shows
// only in the buttons, button 1's caption, the close box and g_bStopJob:
//
//   not ready     Initialize on,  Start Download off, "Close",  close box on,  flag 1
//   initializing  both off,                           "Cancel", close box off, flag 0 (1: abort)
//   ready         both on,                            "Close",  close box on,  flag 1
//   downloading   both off,                           "Close",  close box off, flag 0 (1: abort)
//
// Button 1 (and Enter) asks a running job to abort; pressed again, or pressed while no job
// runs, it records the selections and ends the dialog with OK, on which the application saves
// them. Escape ends it with Cancel at any time, without an abort request. A window closed
// while a job runs waits in exec, with its events (and the HEX reader's message boxes) still
// handled, until the job has ended by itself or at its next poll point; then the worker closes
// the port and ends, before the window is destroyed. A window destroyed without that (never
// run with exec) ends its worker in its destructor, with the reader's boxes withdrawn so that
// the worker cannot wait for this thread.
class CDownloadDlg : public QDialog {
    Q_OBJECT
public:
    // Where the window finds the monitor files and the serial ports.
    struct Sources {
        QString targetsFolder;          // empty: "Targets" beside the program
        PortEnumerator enumeratePorts;  // empty: EnumerateComPorts
    };

    explicit CDownloadDlg(CDownloadApp& app, QWidget* parent = nullptr);
    CDownloadDlg(CDownloadApp& app, Sources sources, QWidget* parent = nullptr);
    ~CDownloadDlg() override;

    // The monitor file path of the selected target (empty without a selection); records the
    // target's name in the application's m_strTarget.
    QString GetSelectedTarget();
    // The selected port, recorded in m_strComPort; "COM1" without a selection.
    QString GetSelectedComPort();
    // The selected baud rate, its text recorded in m_strBaudrate; 57600 without a selection.
    std::int32_t GetSelectedBaudrate();

    // Adds a log line and scrolls to it.
    void AddLogLine(const QString& text);
    // Extends the last log line by `text`; on an empty log `text` becomes its only line.
    void AppendToLastLogLine(const QString& text);

    // What the worker posts to; refuses once the window is being destroyed.
    std::shared_ptr<MessageTarget> messageTarget() const;

    // Puts `path` into the image file field (a file named on the command line).
    void SetImageFile(const QString& path);

    // Closes the window with `result`; ends the worker now unless a job still runs.
    void done(int result) override;
    // Runs the window; a job that still runs when it closes is waited for here, with events
    // still handled, and the worker ended, before the caller goes on to destroy the window.
    int exec() override;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    void OnBtnInitialize();
    void OnBtnStartDownload();
    void OnCloseButton();
    void OnClearLog();
    void OnAbout();
    void OnPostedMessage(PostedMessageEvent& posted);
    void OnJobDone(bool aborted, bool succeeded);
    void OnProgress(WParam wParam, LParam lParam);
    // Empties the progress bar.
    void ResetProgress();

    // Posts the job the state has just begun.
    void BeginJob(unsigned message);
    // Shows the state's controls: the job buttons, button 1's caption and the close entry.
    void ShowControls();
    // Shows a change of m_log in the log list and scrolls to the changed line.
    void ShowLogChange(const LogLines::Change& change);
    void SetCloseEnabled(bool enable);
    // Moves the image file text and "Erase all sectors" between the controls and their
    // variables: to the variables when `saveAndValidate`, else to the controls.
    void UpdateData(bool saveAndValidate);
    void FillTargetList();
    void FillComPortList();
    void RefillComPortList();
    void FillBaudrateList();
    // Places the controls for the window's font and makes the laid-out template the window's
    // size and minimum size.
    void LayOutTemplate();
    void LayOutLogList();
    // Lets the worker close the port and waits for its end (its job, if any, ends first).
    void EndWorker();
    // Asks a running job to abort and ends the worker, with the reader's boxes withdrawn.
    void AbandonJobAndEndWorker();

    CDownloadApp& m_app;
    Sources m_sources;
    std::unique_ptr<Ui::CDownloadDlg> m_ui;
    QComboBox* m_cmbBaudrate;
    QComboBox* m_cmbComPort;
    QComboBox* m_cmbTarget;
    QString m_strImageFile;
    CImageFileEdit* m_edtImageFile;
    JobParams m_job;
    ThreadPtr<CWorkerThread> m_pWorker;
    std::shared_ptr<WindowMessageTarget> m_target;
    QIcon m_hIcon;
    DownloadWindowState m_state{g_bStopJob};
    LogLines m_log;
    QEventLoop* m_jobDoneLoop = nullptr;  // runs in exec while a job ends after the window closed
    bool m_bHasSystemMenu = false;
};
