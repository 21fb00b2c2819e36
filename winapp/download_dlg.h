#pragma once

#include <windows.h>
// winuser.h names PostThreadMessageA/W after a macro; the worker's member of that name is meant.
#undef PostThreadMessage

#include <cstdint>
#include <memory>
#include <string>

#include "link/messages.h"
#include "link/worker_thread.h"
#include "winapp/image_file_edit.h"
#include "window/download_window_state.h"
#include "window/log_lines.h"
#include "window/window_lists.h"

class CDownloadApp;
class CWindowMessageTarget;

// The main window (template 102) as a Win32 modal dialog: target, port, baud rate and image
// file, "Erase all sectors", the job buttons "Initialize" and "Start Download", the
// Close/Cancel button (1) and the log, with a slim progress bar in the button row. Every
// decision comes from the window layer (window/): the job state and what the buttons show
// (DownloadWindowState), the log (LogLines), the list entries and selections (window_lists.h)
// and the image file dialog (image_file_dialog.h); this class only shows them.
//
// The window starts the worker thread when it opens and hands it one job at a time; the worker
// answers with messages posted to the window (log lines, appended text, progress, one done
// message per job). Button 1 (and Enter) asks a running job to abort; pressed again, or while
// no job runs, it records the selections and ends the dialog with OK (1). Escape ends it with
// Cancel (2) at any time, without an abort request; the close box, Alt+F4 and the system
// menu's Close do the same, but nothing while a job runs. A window closed while its job runs
// is gone at once; DoModal then waits, with the thread's messages still handled, until the job
// has ended by itself or at its next poll point, and only then ends the worker.
class CDownloadDlg {
public:
    explicit CDownloadDlg(CDownloadApp& app);
    ~CDownloadDlg();
    CDownloadDlg(const CDownloadDlg&) = delete;
    CDownloadDlg& operator=(const CDownloadDlg&) = delete;

    // Puts `path` (UTF-8) into the image file field when the window opens.
    void SetImageFile(const std::string& path) { m_strImageFile = path; }

    // Runs the window modally (owned by `owner`, may be nullptr), then waits for a job that
    // still runs and ends the worker. Returns the dialog's result: 1 OK, 2 Cancel, -1 when the
    // window could not be made.
    int DoModal(HWND owner = nullptr);

    HWND GetSafeHwnd() const { return m_hWnd; }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

    BOOL OnInitDialog();
    void OnCommand(WORD id, WORD code);
    void OnDestroy();
    void OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool OnContextMenu(LPARAM lParam);
    void OnGetMinMaxInfo(MINMAXINFO& info) const;
    bool OnPaintIconic();

    void OnBtnInitialize();
    void OnBtnStartDownload();
    void OnCloseButton();
    void OnClearLog();
    void OnAbout();
    void OnJobDone(bool aborted, bool succeeded);
    void OnProgress(WPARAM wParam, LPARAM lParam);
    void ResetProgress();

    // Hands the job to the worker; a job it cannot take ends at once as failed.
    void BeginJob(unsigned message);
    // Shows what the job state says: the job buttons, button 1's caption, the system menu's
    // Close (and with it the close box).
    void ApplyControls();
    void EnableControl(int id, bool enable);

    // Moves the image file text and "Erase all sectors" between the controls and their
    // variables: to the variables when `saveAndValidate`, else to the controls.
    void UpdateData(bool saveAndValidate);

    // The selections, recorded in the application's settings (the layer's Selected*).
    std::string GetSelectedTarget();
    std::string GetSelectedComPort();
    std::int32_t GetSelectedBaudrate();

    void FillTargetList();
    void FillComPortList();
    void RefillComPortList();
    void FillBaudrateList();

    void AddLogLine(const std::string& text);
    void AppendToLastLogLine(const std::string& text);
    void ShowLogChange(const LogLines::Change& change);
    void LayOutLogList(int clientWidth, int clientHeight);
    void CreateProgressBar();

    // After the window is gone: waits for the running job's end, then ends the worker.
    void WaitForJobEnd();
    void EndWorker();

    HWND Item(int id) const { return ::GetDlgItem(m_hWnd, id); }

    CDownloadApp& m_app;
    HWND m_hWnd = nullptr;
    DownloadWindowState m_state;
    LogLines m_log;
    TargetListEntries m_targets;
    PortListEntries m_ports;
    CImageFileEdit m_edtImageFile;
    std::string m_strImageFile;
    JobParams m_job;
    std::shared_ptr<CWindowMessageTarget> m_target;
    ThreadPtr<CWorkerThread> m_pWorker;
    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    SIZE m_minTrackSize{0, 0};
    int m_dpi = 96;
};
