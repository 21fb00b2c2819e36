#include "winapp/download_dlg.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <vector>

#include "image/target_folders.h"
#include "res/window_ids.h"
#include "winapp/about_dlg.h"
#include "winapp/download_app.h"
#include "winapp/help_key_hook.h"
#include "winapp/utf16_text.h"
#include "winapp/window_message_target.h"
#include "window/image_file_dialog.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace {

constexpr int kLogListMargin = 10;  // between the log list and the client area's right and bottom
// The smallest the window may get, also where the template lays out smaller.
constexpr LONG kMinimumWidth = 418;
constexpr LONG kMinimumHeight = 320;
// The progress bar, in dialog units: the free space of the button row.
constexpr RECT kProgressRectDlu{126, 93, 126 + 82, 93 + 4};

HINSTANCE Instance() {
    return ::GetModuleHandleW(nullptr);
}

// The entry index of the selected line of a list filled by FillComboBox, or kNoSelection.
int SelectedEntry(HWND combo) {
    const LRESULT index = ::SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) {
        return kNoSelection;
    }
    const LRESULT entry = ::SendMessageW(combo, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
    return entry == CB_ERR ? kNoSelection : static_cast<int>(entry);
}

// Shows `texts` in the layer's order, each line carrying its entry index, and selects entry
// `selected` (kNoSelection: none).
void FillComboBox(HWND combo, const std::vector<std::string>& texts, int selected) {
    ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    int selectedLine = -1;
    for (std::size_t entry = 0; entry < texts.size(); ++entry) {
        const std::wstring text = Utf16FromUtf8(texts[entry]);
        // CB_INSERTSTRING never sorts, also in a list with CBS_SORT.
        const LRESULT line =
            ::SendMessageW(combo, CB_INSERTSTRING, entry, reinterpret_cast<LPARAM>(text.c_str()));
        if (line < 0) {
            continue;  // CB_ERR, CB_ERRSPACE
        }
        ::SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(line),
                       static_cast<LPARAM>(entry));
        if (static_cast<int>(entry) == selected) {
            selectedLine = static_cast<int>(line);
        }
    }
    ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(selectedLine), 0);
}

int LogicalDpi(HWND window) {
    HDC dc = ::GetDC(window);
    const int dpi = dc != nullptr ? ::GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc != nullptr) {
        ::ReleaseDC(window, dc);
    }
    return dpi > 0 ? dpi : 96;
}

}  // namespace

CDownloadDlg::CDownloadDlg(CDownloadApp& app) : m_app(app), m_state(g_bStopJob) {}

CDownloadDlg::~CDownloadDlg() {
    // Normally DoModal has ended the worker. Otherwise nobody is left to see the job: it ends
    // at its next poll point (the reader's boxes have no owner in this thread, so the worker
    // never waits for it).
    if (m_pWorker) {
        g_bStopJob = 1;
        EndWorker();
    }
    if (m_target) {
        m_target->Detach();
    }
    if (m_hIcon != nullptr) {
        ::DestroyIcon(m_hIcon);
    }
    if (m_hSmallIcon != nullptr) {
        ::DestroyIcon(m_hSmallIcon);
    }
}

int CDownloadDlg::DoModal(HWND owner) {
    const INT_PTR result = ::DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_DOWNLOAD), owner,
                                             DialogProc, reinterpret_cast<LPARAM>(this));
    // The window is gone; its target refuses posts since WM_DESTROY.
    WaitForJobEnd();
    EndWorker();
    return static_cast<int>(result);
}

void CDownloadDlg::WaitForJobEnd() {
    if (!m_state.JobRunning() || !m_pWorker || !m_target) {
        return;
    }
    HANDLE done = m_target->JobDoneEvent();
    if (done == nullptr) {
        g_bStopJob = 1;  // nothing to wait on: the job ends at its next poll point
        return;
    }
    // Closed during a job (Escape, or button 1 after an abort request): the job ends by itself
    // or at its next poll point; the thread's messages are still handled meanwhile. A quit
    // request asks the job to abort and is passed on once it has ended.
    bool quit = false;
    WPARAM quitCode = 0;
    for (;;) {
        const DWORD wait =
            ::MsgWaitForMultipleObjectsEx(1, &done, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (wait == WAIT_OBJECT_0) {
            break;
        }
        if (wait == WAIT_FAILED) {
            g_bStopJob = 1;
            break;
        }
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
                quitCode = message.wParam;
                g_bStopJob = 1;
                continue;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    if (quit) {
        ::PostQuitMessage(static_cast<int>(quitCode));
    }
}

void CDownloadDlg::EndWorker() {
    if (m_pWorker) {
        m_pWorker->PostThreadMessage(UM_QUIT, 0, 0);
        m_pWorker.reset();  // lets the loop run out and joins the thread
    }
    // No job runs any more, whether or not its done message was handled; the port closed
    // with the worker, so a later job starts from Initialize.
    m_state.OnWorkerEnded();
}

INT_PTR CALLBACK CDownloadDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CDownloadDlg* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDownloadDlg*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->m_hWnd = window;
    } else {
        self = reinterpret_cast<CDownloadDlg*>(::GetWindowLongPtrW(window, DWLP_USER));
    }
    if (self == nullptr) {
        return FALSE;
    }
    const INT_PTR result = self->OnMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, DWLP_USER, 0);
        self->m_hWnd = nullptr;
    }
    return result;
}

INT_PTR CDownloadDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_ABOUTBOX_COMMAND) {
                OnAbout();
                return TRUE;
            }
            // The close box, Alt+F4 and the menu's Close do nothing while a job runs.
            if ((wParam & 0xFFF0) == SC_CLOSE && !m_state.MayCloseFromFrame()) {
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            // Handled: DefDlgProc would end the dialog with Cancel.
            return m_state.MayCloseFromFrame() ? FALSE : TRUE;
        case WM_CONTEXTMENU:
            return OnContextMenu(lParam) ? TRUE : FALSE;
        case WM_GETMINMAXINFO:
            OnGetMinMaxInfo(*reinterpret_cast<MINMAXINFO*>(lParam));
            return TRUE;
        case WM_SIZE:
            if (wParam != SIZE_MINIMIZED) {
                LayOutLogList(LOWORD(lParam), HIWORD(lParam));
            }
            return FALSE;
        case WM_DPICHANGED: {
            // The template's size grows with the monitor's scale; the window itself is
            // placed by the dialog manager.
            const int dpi = HIWORD(wParam) != 0 ? HIWORD(wParam) : m_dpi;
            m_minTrackSize.cx = ::MulDiv(m_minTrackSize.cx, dpi, m_dpi);
            m_minTrackSize.cy = ::MulDiv(m_minTrackSize.cy, dpi, m_dpi);
            m_dpi = dpi;
            return FALSE;
        }
        case WM_PAINT:
            return OnPaintIconic() ? TRUE : FALSE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(m_hIcon);
        case WM_DESTROY:
            OnDestroy();
            return FALSE;
        case UM_LOG_LINE:
        case UM_LOG_APPEND:
        case UM_INIT_DONE:
        case UM_DOWNLOAD_DONE:
        case UM_PROGRESS:
            OnPostedMessage(message, wParam, lParam);
            return TRUE;
        default:
            return FALSE;
    }
}

BOOL CDownloadDlg::OnInitDialog() {
    // The application's main window from now on: the reader's boxes while the lists fill are
    // owned by it.
    m_app.m_pMainWnd = m_hWnd;
    m_dpi = LogicalDpi(m_hWnd);
    CHelpKeyHook::Register(m_hWnd, [this](HWND window) { m_app.WinHelp(window); });

    // 1. The worker, and where it posts to.
    m_target = std::make_shared<CWindowMessageTarget>(m_hWnd);
    m_pWorker = BeginThread<CWorkerThread>(m_app.m_bEraseAll);
    m_job.hWndOwner = m_target.get();

    // 2. The image file field and its file dialog.
    m_edtImageFile.Attach(m_hWnd, IDC_IMAGE_FILE, IDC_BROWSE);
    m_edtImageFile.SetDialogTitle(kImageFileDialogTitle);
    m_edtImageFile.SetDefaultExtension(kImageFileDialogExtension);
    m_edtImageFile.SetFilter(kImageFileDialogFilter);
    CreateProgressBar();

    // 3. The variables into the controls: the image file (empty unless given), "Erase all
    // sectors" as saved.
    UpdateData(false);

    // 4. The About entry in the system menu.
    if (HMENU systemMenu = ::GetSystemMenu(m_hWnd, FALSE)) {
        wchar_t about[128] = {};
        if (::LoadStringW(Instance(), IDS_ABOUTBOX_TEXT, about, 128) > 0) {
            ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX_COMMAND, about);
        }
    }

    // 5. The icon, large and small.
    m_hIcon = static_cast<HICON>(::LoadImageW(Instance(), MAKEINTRESOURCEW(IDI_QUILLON), IMAGE_ICON,
                                              ::GetSystemMetrics(SM_CXICON),
                                              ::GetSystemMetrics(SM_CYICON), 0));
    m_hSmallIcon = static_cast<HICON>(::LoadImageW(Instance(), MAKEINTRESOURCEW(IDI_QUILLON),
                                                   IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                   ::GetSystemMetrics(SM_CYSMICON), 0));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL,
                   reinterpret_cast<LPARAM>(m_hSmallIcon != nullptr ? m_hSmallIcon : m_hIcon));

    // 6. The lists, with the saved selections.
    FillTargetList();
    FillComPortList();
    FillBaudrateList();

    // 7. The laid-out template is the smallest the window gets; the log list fills the rest.
    RECT window{};
    ::GetWindowRect(m_hWnd, &window);
    m_minTrackSize = {window.right - window.left, window.bottom - window.top};
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    LayOutLogList(client.right, client.bottom);
    ResetProgress();
    ApplyControls();
    return TRUE;  // the focus on the first tab stop, button 1
}

void CDownloadDlg::CreateProgressBar() {
    RECT rect = kProgressRectDlu;
    ::MapDialogRect(m_hWnd, &rect);
    const HWND bar = ::CreateWindowExW(
        0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, rect.left, rect.top, rect.right - rect.left,
        std::max<LONG>(rect.bottom - rect.top, 2), m_hWnd,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS)), Instance(), nullptr);
    if (bar != nullptr) {
        // In the tab order (it takes no focus) where it stands, after the job buttons.
        ::SetWindowPos(bar, Item(IDC_START_DOWNLOAD), 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

void CDownloadDlg::OnDestroy() {
    // Before the handle dies: nobody finds the window, nothing posts to it any more, and what
    // was posted and is still queued has its strings freed (the job's done message, if any,
    // has set the target's event; the window's end waits on that).
    if (m_app.m_pMainWnd.load() == m_hWnd) {
        m_app.m_pMainWnd = nullptr;
    }
    CHelpKeyHook::Unregister(m_hWnd);
    if (m_target) {
        m_target->Detach();
    }
    MSG message;
    while (::PeekMessageW(&message, m_hWnd, UM_LOG_LINE, UM_LOG_APPEND, PM_REMOVE)) {
        DiscardPostedMessage(QueuedMessage{message.message, static_cast<WParam>(message.wParam),
                                           static_cast<LParam>(message.lParam)});
    }
}

void CDownloadDlg::OnCommand(WORD id, WORD code) {
    switch (id) {
        case IDOK:
            if (code == BN_CLICKED) {
                OnCloseButton();
            }
            break;
        case IDCANCEL:
            // Escape (and the frame's close, where allowed): Cancel, without an abort request.
            ::EndDialog(m_hWnd, IDCANCEL);
            break;
        case IDC_INITIALIZE:
            if (code == BN_CLICKED) {
                OnBtnInitialize();
            }
            break;
        case IDC_START_DOWNLOAD:
            if (code == BN_CLICKED) {
                OnBtnStartDownload();
            }
            break;
        case IDC_BROWSE:
            if (code == BN_CLICKED) {
                m_edtImageFile.OnBrowse();
            }
            break;
        case IDC_COM_PORT:
            if (code == CBN_DROPDOWN) {
                RefillComPortList();
            }
            break;
        case ID_EDIT_CLEAR:
            if (code == 0) {  // the menu command
                OnClearLog();
            }
            break;
        default:
            break;
    }
}

// --- Jobs ------------------------------------------------------------------------------

void CDownloadDlg::OnBtnInitialize() {
    if (!m_state.BeginInitialize()) {
        return;
    }
    m_job.strPort = GetSelectedComPort();
    m_job.strFile = GetSelectedTarget();
    m_job.nBaudRate = GetSelectedBaudrate();
    BeginJob(UM_INITIALIZE);
}

void CDownloadDlg::OnBtnStartDownload() {
    UpdateData(true);
    if (!m_state.BeginDownload()) {
        return;
    }
    m_job.strPort = GetSelectedComPort();
    m_job.strFile = m_strImageFile;
    m_job.nBaudRate = GetSelectedBaudrate();
    BeginJob(UM_DOWNLOAD);
}

void CDownloadDlg::BeginJob(unsigned message) {
    ApplyControls();
    ResetProgress();
    if (!m_pWorker) {
        m_pWorker = BeginThread<CWorkerThread>(m_app.m_bEraseAll);
    }
    m_target->ResetJobDone();
    if (!m_pWorker->PostThreadMessage(message, 0, reinterpret_cast<LParam>(&m_job))) {
        // No worker takes the job: it ends at once as failed, so the window is not left
        // waiting for a done message that cannot come.
        OnJobDone(false, false);
    }
}

void CDownloadDlg::OnCloseButton() {
    if (m_state.OnCloseButton() == CloseButtonAction::kRequestAbort) {
        return;  // the worker ends the job at its next poll point
    }
    GetSelectedBaudrate();
    GetSelectedComPort();
    GetSelectedTarget();
    UpdateData(true);
    ::EndDialog(m_hWnd, kDialogResultOk);
}

void CDownloadDlg::OnJobDone(bool aborted, bool succeeded) {
    const std::vector<std::string> lines =
        m_state.OnJobDone(aborted, succeeded, m_log.Last(), m_job.strPort);
    for (const std::string& line : lines) {
        AddLogLine(line);
    }
    ApplyControls();
    ResetProgress();
}

void CDownloadDlg::OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case UM_LOG_LINE:
        case UM_LOG_APPEND: {
            const std::unique_ptr<std::string> text = TakePostedString(lParam);
            if (text) {
                if (message == UM_LOG_LINE) {
                    AddLogLine(*text);
                } else {
                    AppendToLastLogLine(*text);
                }
            }
            break;
        }
        case UM_INIT_DONE:
        case UM_DOWNLOAD_DONE:
            OnJobDone(wParam != 0, lParam != 0);
            break;
        case UM_PROGRESS:
            OnProgress(wParam, lParam);
            break;
        default:
            break;
    }
}

void CDownloadDlg::OnProgress(WPARAM wParam, LPARAM lParam) {
    const auto done = static_cast<LPARAM>(ProgressDoneOf(static_cast<WParam>(wParam)));
    const LPARAM total = std::clamp<LPARAM>(lParam, 0, kProgressDoneMask);
    if (!m_state.JobRunning() || total <= 0) {
        return;
    }
    const HWND bar = Item(IDC_PROGRESS);
    ::SendMessageW(bar, PBM_SETRANGE32, 0, total);
    ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(std::clamp<LPARAM>(done, 0, total)), 0);
}

void CDownloadDlg::ResetProgress() {
    const HWND bar = Item(IDC_PROGRESS);
    ::SendMessageW(bar, PBM_SETRANGE32, 0, 1);
    ::SendMessageW(bar, PBM_SETPOS, 0, 0);
}

void CDownloadDlg::ApplyControls() {
    const WindowControls controls = m_state.Controls();
    EnableControl(IDC_INITIALIZE, controls.initializeEnabled);
    EnableControl(IDC_START_DOWNLOAD, controls.startDownloadEnabled);
    ::SetDlgItemTextW(m_hWnd, IDOK, Utf16FromUtf8(controls.closeButtonCaption).c_str());
    if (HMENU systemMenu = ::GetSystemMenu(m_hWnd, FALSE)) {
        ::EnableMenuItem(systemMenu, SC_CLOSE,
                         MF_BYCOMMAND | (controls.closeEntryEnabled ? MF_ENABLED : MF_GRAYED));
    }
}

void CDownloadDlg::EnableControl(int id, bool enable) {
    const HWND control = Item(id);
    if (control == nullptr) {
        return;
    }
    // A button that disables itself passes the focus on, so the keyboard keeps working.
    if (!enable && ::GetFocus() == control) {
        ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, 0, FALSE);
    }
    ::EnableWindow(control, enable ? TRUE : FALSE);
}

// --- Variables and lists ---------------------------------------------------------------

void CDownloadDlg::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_strImageFile = m_edtImageFile.GetText();
        m_app.m_bEraseAll = ::IsDlgButtonChecked(m_hWnd, IDC_ERASE_ALL) == BST_CHECKED ? 1 : 0;
    } else {
        m_edtImageFile.SetText(m_strImageFile);
        ::CheckDlgButton(m_hWnd, IDC_ERASE_ALL,
                         m_app.m_bEraseAll != 0 ? BST_CHECKED : BST_UNCHECKED);
    }
}

std::string CDownloadDlg::GetSelectedTarget() {
    return SelectedTargetPath(m_targets.entries, SelectedEntry(Item(IDC_TARGET)),
                              m_app.m_settings.target);
}

std::string CDownloadDlg::GetSelectedComPort() {
    m_ports.selected = SelectedEntry(Item(IDC_COM_PORT));
    return SelectedComPort(m_ports, m_app.m_settings.comPort);
}

std::int32_t CDownloadDlg::GetSelectedBaudrate() {
    return SelectedBaudrate(SelectedEntry(Item(IDC_BAUDRATE)), m_app.m_settings.baudrate);
}

void CDownloadDlg::FillTargetList() {
    // Beside the program and in the installed tree's share folder.
    m_targets =
        LoadTargetListEntries(FindTargetFolders(m_app.ProgramDirectory()), m_app.m_settings.target);
    std::vector<std::string> names;
    names.reserve(m_targets.entries.size());
    for (const MonitorFileEntry& entry : m_targets.entries) {
        names.push_back(entry.displayName);
    }
    FillComboBox(Item(IDC_TARGET), names, m_targets.selected);
}

void CDownloadDlg::FillComPortList() {
    m_ports = LoadPortListEntries(m_app.m_options.enumeratePorts, m_app.m_settings.comPort);
    FillComboBox(Item(IDC_COM_PORT), m_ports.ports, m_ports.selected);
}

void CDownloadDlg::RefillComPortList() {
    // The operator's current choice, as the list shows it now.
    PortListEntries previous = m_ports;
    previous.selected = SelectedEntry(Item(IDC_COM_PORT));
    m_ports =
        ReloadPortListEntries(m_app.m_options.enumeratePorts, previous, m_app.m_settings.comPort);
    FillComboBox(Item(IDC_COM_PORT), m_ports.ports, m_ports.selected);
}

void CDownloadDlg::FillBaudrateList() {
    FillComboBox(Item(IDC_BAUDRATE), BaudrateTexts(),
                 SelectBaudrateEntry(m_app.m_settings.baudrate));
}

// --- The log ---------------------------------------------------------------------------

void CDownloadDlg::AddLogLine(const std::string& text) {
    ShowLogChange(m_log.Add(text));
}

void CDownloadDlg::AppendToLastLogLine(const std::string& text) {
    ShowLogChange(m_log.AppendToLast(text));
}

void CDownloadDlg::ShowLogChange(const LogLines::Change& change) {
    const HWND list = Item(IDC_LOG);
    const std::wstring text = Utf16FromUtf8(change.text);
    const auto index = static_cast<WPARAM>(change.index);
    const LRESULT count = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
    if (change.replacesLast && count > 0 && static_cast<WPARAM>(count - 1) == index) {
        // The last line anew, without a flicker; a selected line stays selected.
        const bool selected = ::SendMessageW(list, LB_GETCURSEL, 0, 0) == count - 1;
        ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
        ::SendMessageW(list, LB_DELETESTRING, index, 0);
        ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        if (selected) {
            ::SendMessageW(list, LB_SETCURSEL, index, 0);
        }
        ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
        ::InvalidateRect(list, nullptr, TRUE);
    } else {
        ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    ::SendMessageW(list, LB_SETTOPINDEX, index, 0);
}

void CDownloadDlg::OnClearLog() {
    ::SendMessageW(Item(IDC_LOG), LB_RESETCONTENT, 0, 0);
    m_log.Clear();
}

bool CDownloadDlg::OnContextMenu(LPARAM lParam) {
    const int x = GET_X_LPARAM(lParam);
    const int y = GET_Y_LPARAM(lParam);
    // A request from the keyboard points at no place the operator chose: no menu.
    if (x == -1 && y == -1) {
        return true;
    }
    RECT log{};
    const POINT point{x, y};
    if (!::GetWindowRect(Item(IDC_LOG), &log) || !::PtInRect(&log, point)) {
        return false;
    }
    HMENU menu = ::LoadMenuW(Instance(), MAKEINTRESOURCEW(IDR_LOGMENU));
    if (menu == nullptr) {
        return true;
    }
    if (HMENU popup = ::GetSubMenu(menu, 0)) {
        ::TrackPopupMenu(popup, TPM_RIGHTBUTTON, x, y, 0, m_hWnd, nullptr);
    }
    ::DestroyMenu(menu);
    return true;
}

void CDownloadDlg::OnAbout() {
    CAboutDlg about;
    about.DoModal(m_hWnd);
}

// --- Layout and painting -----------------------------------------------------------------

void CDownloadDlg::OnGetMinMaxInfo(MINMAXINFO& info) const {
    info.ptMinTrackSize.x = std::max({info.ptMinTrackSize.x, m_minTrackSize.cx, kMinimumWidth});
    info.ptMinTrackSize.y = std::max({info.ptMinTrackSize.y, m_minTrackSize.cy, kMinimumHeight});
}

void CDownloadDlg::LayOutLogList(int clientWidth, int clientHeight) {
    const HWND list = Item(IDC_LOG);
    if (list == nullptr) {
        return;
    }
    RECT rect{};
    ::GetWindowRect(list, &rect);
    ::MapWindowPoints(HWND_DESKTOP, m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
    const int width = std::max(0, clientWidth - kLogListMargin - static_cast<int>(rect.left));
    const int height = std::max(0, clientHeight - kLogListMargin - static_cast<int>(rect.top));
    ::SetWindowPos(list, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CDownloadDlg::OnPaintIconic() {
    if (!::IsIconic(m_hWnd)) {
        return false;
    }
    // Minimized: the icon, centred.
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(m_hWnd, &paint);
    ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    const int x = (client.right - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
    ::EndPaint(m_hWnd, &paint);
    return true;
}
