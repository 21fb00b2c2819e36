#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "winapp/image_file_edit.h"
#include "winapp/port_list_box.h"
#include "window/main_window_controller.h"

namespace quillon {

class Win32DownloadApp;

// The main window (template 102) as a Win32 modal dialog: target, port, baud rate and image
// file, "Erase all sectors", the job buttons "Initialize" and "Start Download", the
// Close/Cancel button (1) and the log, with a slim progress bar in the button row, and below them
// the status line. It is a view
// of MainWindowController, which decides everything: the dialog procedure passes the
// operator's actions in, and the window shows what the controller says.
//
// A job's events come from the job's thread: PostJobEvent queues each under a lock and posts one
// wake-up message to the window's HWND while the queue holds any; the window takes them in
// order. Posting can fail (a full message queue): the event stays queued, and a timer of the
// window takes what is queued, so no event is lost and the window never keeps showing a job
// that has ended. A window closed while its job runs is hidden at once and ends its modal run
// when the job has ended.
class Win32MainWindow : public MainWindowView {
public:
    explicit Win32MainWindow(Win32DownloadApp& app);
    // A job that still runs is asked to stop and waited for; its line closes.
    ~Win32MainWindow() override;
    Win32MainWindow(const Win32MainWindow&) = delete;
    Win32MainWindow& operator=(const Win32MainWindow&) = delete;

    // Puts `path` (UTF-8) into the image file field when the window opens.
    void SetImageFile(const std::string& path) { m_imageFile = path; }

    // Runs the window modally (owned by `owner`, may be nullptr). Returns the dialog's result:
    // 1 OK, 2 Cancel, -1 when the window could not be made.
    int DoModal(HWND owner = nullptr);

    // MainWindowView.
    void ShowList(WindowList list, const std::vector<std::string>& entries, int selected) override;
    void ShowPortDescriptions(const std::vector<std::string>& descriptions) override;
    void ShowImageFile(const std::string& path) override { m_imageFileEdit.SetText(path); }
    void ShowEraseAll(bool checked) override;
    void ShowControls(const WindowControls& controls) override;
    void ShowLogChange(const LogLines::Change& change) override;
    void ClearLog() override;
    void ShowProgress(std::uint32_t done, std::uint32_t total, ProgressLook look) override;
    void ShowStatus(const std::string& text) override;
    void ShowMessage(const WindowMessage& message) override;
    void WriteDebugText(const std::string& text) override;
    void Close(int result) override;
    void PostJobEvent(std::unique_ptr<JobEvent> event) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

    BOOL OnInitDialog();
    void OnCommand(WORD id, WORD code, HWND control);
    void OnDestroy();
    // Hands the queued job events to the controller, one at a time and in order (a box the
    // controller opens may take the rest meanwhile).
    void TakeJobEvents();
    bool OnContextMenu(LPARAM lParam);
    void OnGetMinMaxInfo(MINMAXINFO& info) const;
    bool OnPaintIconic();
    void CreateProgressBar();
    void EnableControl(int id, bool enable);
    void LayOutLogList(int clientWidth, int clientHeight);
    // The status line below the template's controls, in a large bold font; the window grows
    // downwards by its height.
    void CreateStatusLine();
    int StatusLineSpace() const;
    void OnOptions();
    // Opens the production view, modal over the window.
    void OnProduction();

    HWND Item(int id) const { return ::GetDlgItem(m_window, id); }

    Win32DownloadApp& m_app;
    HWND m_window = nullptr;
    Win32ImageFileEdit m_imageFileEdit;
    Win32PortListBox m_portList;
    std::string m_imageFile;
    HICON m_icon = nullptr;
    HICON m_smallIcon = nullptr;
    SIZE m_minTrackSize{0, 0};
    int m_dpi = 96;
    std::optional<int> m_closedWith;  // closed while a job ran: the result once it has ended
    std::mutex m_postMutex;           // a post and the window's end never overlap
    HWND m_postTarget = nullptr;      // where job events go; none before and after the window
    std::deque<std::unique_ptr<JobEvent>> m_postedEvents;  // guarded by m_postMutex
    bool m_wakePosted = false;  // guarded by m_postMutex: a wake-up message is on its way
    HFONT m_statusFont = nullptr;
    int m_statusHeight = 0;
    std::unique_ptr<MainWindowController> m_controller;
};

}  // namespace quillon
