#include "winapp/main_window.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <vector>

#include "image/target_folders.h"
#include "platform/utf16_text.h"
#include "res/window_ids.h"
#include "winapp/about_window.h"
#include "winapp/download_app.h"
#include "winapp/help_key_hook.h"
#include "winapp/options_window.h"
#include "winapp/production_window.h"
#include "winapp/registry_settings_store.h"
#include "winapp/win32_message_box.h"
#include "window/image_file_dialog.h"
#include "window/options_dialog.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace quillon {

namespace {

// Job events are queued (PostJobEvent): the window takes them on this message, and on this
// timer when a wake-up could not be posted.
constexpr UINT kJobEventMessage = WM_APP + 1;
constexpr UINT_PTR kJobEventTimer = 1;
constexpr UINT kJobEventTimerMs = 200;

// The system menu's and the log menu's entry that opens the production view.
constexpr UINT kProductionCommand = 0x0030;

constexpr int kLogListMargin = 10;  // between the log list and the client area's right and bottom
// The progress bar of a job that failed or was aborted.
constexpr COLORREF kFailedBarColor = RGB(0xC6, 0x28, 0x28);
// The smallest the window may get, also where the template lays out smaller.
constexpr LONG kMinimumWidth = 418;
constexpr LONG kMinimumHeight = 320;
// The progress bar, in dialog units: the free space of the button row.
constexpr RECT kProgressRectDlu{126, 93, 126 + 82, 93 + 4};

HINSTANCE Instance() {
    return ::GetModuleHandleW(nullptr);
}

// The entry index of the selected line of a list filled by ShowList, or kNoSelection.
int SelectedEntry(HWND combo) {
    const LRESULT index = ::SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) {
        return kNoSelection;
    }
    const LRESULT entry = ::SendMessageW(combo, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
    return entry == CB_ERR ? kNoSelection : static_cast<int>(entry);
}

int LogicalDpi(HWND window) {
    HDC dc = ::GetDC(window);
    const int dpi = dc != nullptr ? ::GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc != nullptr) {
        ::ReleaseDC(window, dc);
    }
    return dpi > 0 ? dpi : 96;
}

MainWindowSources SourcesOf(const Win32DownloadApp& app) {
    const Win32DownloadApp::Options& options = app.GivenOptions();
    return {FindTargetFolders(app.ProgramDirectory()), options.enumeratePorts,
            options.makeJobs ? options.makeJobs() : nullptr, std::string(), app.Start()};
}

}  // namespace

Win32MainWindow::Win32MainWindow(Win32DownloadApp& app)
    : m_app(app),
      m_controller(std::make_unique<MainWindowController>(*this, app.Settings(), SourcesOf(app))) {}

Win32MainWindow::~Win32MainWindow() {
    m_controller.reset();  // no post reaches a window any more: each is freed at once
    if (m_icon != nullptr) {
        ::DestroyIcon(m_icon);
    }
    if (m_smallIcon != nullptr) {
        ::DestroyIcon(m_smallIcon);
    }
    if (m_statusFont != nullptr) {
        ::DeleteObject(m_statusFont);
    }
}

int Win32MainWindow::DoModal(HWND owner) {
    return static_cast<int>(::DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_DOWNLOAD), owner,
                                              DialogProc, reinterpret_cast<LPARAM>(this)));
}

INT_PTR CALLBACK Win32MainWindow::DialogProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    Win32MainWindow* self = nullptr;
    if (message == WM_MEASUREITEM && wParam == IDC_COM_PORT) {
        // Sent while the template's controls are made, before WM_INITDIALOG.
        Win32PortListBox::Measure(window, *reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
        return TRUE;
    }
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Win32MainWindow*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->m_window = window;
    } else {
        self = reinterpret_cast<Win32MainWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
    }
    if (self == nullptr) {
        return FALSE;
    }
    const INT_PTR result = self->OnMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, DWLP_USER, 0);
        self->m_window = nullptr;
    }
    return result;
}

INT_PTR Win32MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return TRUE;
        case kJobEventMessage:
            TakeJobEvents();
            return TRUE;
        case WM_TIMER:
            if (wParam != kJobEventTimer) {
                return FALSE;
            }
            TakeJobEvents();
            return TRUE;
        case WM_DRAWITEM:
            if (wParam == IDC_COM_PORT) {
                m_portList.Draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
                return TRUE;
            }
            return FALSE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_ABOUTBOX_COMMAND) {
                Win32AboutWindow about;
                about.DoModal(m_window);
                return TRUE;
            }
            if ((wParam & 0xFFF0) == IDM_OPTIONS_COMMAND) {
                OnOptions();
                return TRUE;
            }
            if ((wParam & 0xFFF0) == kProductionCommand) {
                OnProduction();
                return TRUE;
            }
            // The close box, Alt+F4 and the menu's Close do nothing while a job runs.
            return (wParam & 0xFFF0) == SC_CLOSE && !m_controller->MayCloseFromFrame();
        case WM_CLOSE:
            // Handled: DefDlgProc would end the dialog with Cancel.
            return m_controller->MayCloseFromFrame() ? FALSE : TRUE;
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
            return reinterpret_cast<INT_PTR>(m_icon);
        case WM_DESTROY:
            OnDestroy();
            return FALSE;
        default:
            return FALSE;
    }
}

BOOL Win32MainWindow::OnInitDialog() {
    // The application's main window from now on; the job events reach it from now on.
    m_app.MainWindowOpened(m_window);
    m_dpi = LogicalDpi(m_window);
    HelpKeyHook::Register(m_window, [this](HWND window) { m_app.OpenHelp(window); });
    {
        std::lock_guard<std::mutex> lock(m_postMutex);
        m_postTarget = m_window;
    }

    // The image file field and its file dialog.
    if (const Status attached = m_imageFileEdit.Attach(m_window, IDC_IMAGE_FILE, IDC_BROWSE);
        !attached) {
        WriteDebugText(attached.error().text);
    }
    m_imageFileEdit.SetDialogTitle(kImageFileDialogTitle);
    m_imageFileEdit.SetDefaultExtension(kImageFileDialogExtension);
    m_imageFileEdit.SetFilter(kImageFileDialogFilter);
    CreateProgressBar();

    // The About entry in the system menu.
    if (HMENU systemMenu = ::GetSystemMenu(m_window, FALSE)) {
        wchar_t about[128] = {};
        if (::LoadStringW(Instance(), IDS_ABOUTBOX_TEXT, about, 128) > 0) {
            ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX_COMMAND, about);
        }
        // The Options entry beside it.
        ::AppendMenuW(systemMenu, MF_STRING, IDM_OPTIONS_COMMAND,
                      Utf16FromUtf8(OptionsDialog::kMenuEntry).c_str());
        ::AppendMenuW(systemMenu, MF_STRING, kProductionCommand,
                      Utf16FromUtf8(kProductionMenuEntry).c_str());
    }
    CreateStatusLine();
    // Taken also when a wake-up message could not be posted.
    ::SetTimer(m_window, kJobEventTimer, kJobEventTimerMs, nullptr);

    // The icon, large and small.
    const auto loadIcon = [](int width, int height) {
        return static_cast<HICON>(::LoadImageW(Instance(), MAKEINTRESOURCEW(IDI_QUILLON),
                                               IMAGE_ICON, ::GetSystemMetrics(width),
                                               ::GetSystemMetrics(height), 0));
    };
    m_icon = loadIcon(SM_CXICON, SM_CYICON);
    m_smallIcon = loadIcon(SM_CXSMICON, SM_CYSMICON);
    ::SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    ::SendMessageW(m_window, WM_SETICON, ICON_SMALL,
                   reinterpret_cast<LPARAM>(m_smallIcon != nullptr ? m_smallIcon : m_icon));

    // The fields, the lists with the saved selections, the controls.
    m_controller->Open();
    if (!m_imageFile.empty()) {
        m_controller->SetImageFile(m_imageFile);
    }

    // The laid-out template is the smallest the window gets; the log list fills the rest.
    RECT window{};
    ::GetWindowRect(m_window, &window);
    m_minTrackSize = {window.right - window.left, window.bottom - window.top};
    RECT client{};
    ::GetClientRect(m_window, &client);
    LayOutLogList(client.right, client.bottom);
    return TRUE;  // the focus on the first tab stop, button 1
}

void Win32MainWindow::CreateProgressBar() {
    RECT rect = kProgressRectDlu;
    ::MapDialogRect(m_window, &rect);
    const HWND bar = ::CreateWindowExW(
        0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, rect.left, rect.top, rect.right - rect.left,
        std::max<LONG>(rect.bottom - rect.top, 2), m_window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS)), Instance(), nullptr);
    if (bar != nullptr) {
        // In the tab order (it takes no focus) where it stands, after the job buttons.
        ::SetWindowPos(bar, Item(IDC_START_DOWNLOAD), 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

void Win32MainWindow::OnDestroy() {
    // Before the handle dies: nobody finds the window, nothing posts to it any more, and the
    // events posted and still queued are freed.
    m_app.MainWindowClosed(m_window);
    HelpKeyHook::Unregister(m_window);
    ::KillTimer(m_window, kJobEventTimer);
    std::deque<std::unique_ptr<JobEvent>> dropped;
    {
        std::lock_guard<std::mutex> lock(m_postMutex);
        m_postTarget = nullptr;
        dropped.swap(m_postedEvents);
        m_wakePosted = false;
    }
}

void Win32MainWindow::OnCommand(WORD id, WORD code, HWND control) {
    MainWindowController& controller = *m_controller;
    if (id == IDCANCEL) {
        controller.OnCancel();  // Escape, and the frame's close where allowed: no abort request
    } else if (code == BN_CLICKED) {  // also the log menu's command
        switch (id) {
            case IDOK:
                return controller.OnCloseButton();
            case IDC_INITIALIZE:
                return controller.OnInitialize();
            case IDC_START_DOWNLOAD:
                return controller.OnStartDownload();
            case IDC_ERASE_ALL:
                return controller.OnEraseAllChanged(::IsDlgButtonChecked(m_window, id) ==
                                                    BST_CHECKED);
            case IDC_BROWSE:
                return m_imageFileEdit.OnBrowse();
            case ID_EDIT_CLEAR:
                return controller.OnClearLog();
            case IDM_OPTIONS_COMMAND:
                return OnOptions();
            case kProductionCommand:
                return OnProduction();
            default:
                break;
        }
    } else if (code == CBN_SELCHANGE) {
        const int entry = SelectedEntry(control);
        switch (id) {
            case IDC_TARGET:
                return controller.OnTargetSelected(entry);
            case IDC_COM_PORT:
                return controller.OnPortSelected(entry);
            case IDC_BAUDRATE:
                return controller.OnBaudrateSelected(entry);
            default:
                break;
        }
    } else if (id == IDC_COM_PORT && code == CBN_DROPDOWN) {
        controller.OnPortListOpening();
    } else if (id == IDC_IMAGE_FILE && code == EN_CHANGE) {
        controller.OnImageFileEdited(m_imageFileEdit.GetText());
    }
}

// --- Job events ----------------------------------------------------------------------------

void Win32MainWindow::PostJobEvent(std::unique_ptr<JobEvent> event) {
    std::lock_guard<std::mutex> lock(m_postMutex);
    if (m_postTarget == nullptr) {
        return;  // no window (any more): the event is freed here
    }
    m_postedEvents.push_back(std::move(event));
    if (!m_wakePosted) {
        // A failed post leaves the event queued for the next post or the timer.
        m_wakePosted = ::PostMessageW(m_postTarget, kJobEventMessage, 0, 0) != FALSE;
    }
}

void Win32MainWindow::TakeJobEvents() {
    for (;;) {
        std::unique_ptr<JobEvent> event;
        {
            std::lock_guard<std::mutex> lock(m_postMutex);
            if (m_postedEvents.empty()) {
                m_wakePosted = false;  // the next event posts a wake-up again
                return;
            }
            event = std::move(m_postedEvents.front());
            m_postedEvents.pop_front();
        }
        m_controller->OnJobEvent(*event);
        if (m_closedWith && !m_controller->JobRunning()) {
            ::EndDialog(m_window, *m_closedWith);  // closed during the job, which has ended now
        }
    }
}

// --- What the controller shows -------------------------------------------------------------

void Win32MainWindow::ShowList(WindowList list, const std::vector<std::string>& entries,
                               int selected) {
    const HWND combo = Item(list == WindowList::kTarget ? IDC_TARGET
                            : list == WindowList::kPort ? IDC_COM_PORT
                                                        : IDC_BAUDRATE);
    // The controller's order, each line carrying its entry index.
    ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    int selectedLine = -1;
    for (std::size_t entry = 0; entry < entries.size(); ++entry) {
        const std::wstring text = Utf16FromUtf8(entries[entry]);
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

void Win32MainWindow::ShowPortDescriptions(const std::vector<std::string>& descriptions) {
    m_portList.SetDescriptions(Item(IDC_COM_PORT), descriptions);
}

void Win32MainWindow::ShowEraseAll(bool checked) {
    ::CheckDlgButton(m_window, IDC_ERASE_ALL, checked ? BST_CHECKED : BST_UNCHECKED);
}

void Win32MainWindow::ShowControls(const WindowControls& controls) {
    EnableControl(IDC_INITIALIZE, controls.initializeEnabled);
    EnableControl(IDC_START_DOWNLOAD, controls.startDownloadEnabled);
    ::SetDlgItemTextW(m_window, IDOK, Utf16FromUtf8(controls.closeButtonCaption).c_str());
    if (HMENU systemMenu = ::GetSystemMenu(m_window, FALSE)) {
        ::EnableMenuItem(systemMenu, SC_CLOSE,
                         MF_BYCOMMAND | (controls.closeEntryEnabled ? MF_ENABLED : MF_GRAYED));
    }
}

void Win32MainWindow::EnableControl(int id, bool enable) {
    const HWND control = Item(id);
    // A button that disables itself passes the focus on, so the keyboard keeps working.
    if (!enable && ::GetFocus() == control) {
        ::SendMessageW(m_window, WM_NEXTDLGCTL, 0, FALSE);
    }
    ::EnableWindow(control, enable ? TRUE : FALSE);
}

void Win32MainWindow::ShowLogChange(const LogLines::Change& change) {
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

void Win32MainWindow::ClearLog() {
    ::SendMessageW(Item(IDC_LOG), LB_RESETCONTENT, 0, 0);
}

void Win32MainWindow::ShowProgress(std::uint32_t done, std::uint32_t total, ProgressLook look) {
    const HWND bar = Item(IDC_PROGRESS);
    // A job that failed or was aborted: the common controls' error state, which the visual
    // styles draw red, and the red bar colour for a bar drawn without them (which ignore it).
    // Set before the position, which an error-state bar keeps.
    const bool failed = look == ProgressLook::kFailed;
    ::SendMessageW(bar, PBM_SETSTATE, failed ? PBST_ERROR : PBST_NORMAL, 0);
    ::SendMessageW(bar, PBM_SETBARCOLOR, 0, failed ? kFailedBarColor : CLR_DEFAULT);
    const auto maximum = static_cast<LPARAM>(std::min<std::uint32_t>(total, INT_MAX));
    ::SendMessageW(bar, PBM_SETRANGE32, 0, total == 0 ? 1 : maximum);
    ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(std::min<std::uint32_t>(done, INT_MAX)), 0);
}

void Win32MainWindow::ShowStatus(const std::string& text) {
    ::SetDlgItemTextW(m_window, IDC_STATUS_LINE, Utf16FromUtf8(text).c_str());
}

void Win32MainWindow::ShowMessage(const WindowMessage& message) {
    // Over the window; one hidden after its close is no owner.
    ShowMessageBox(m_closedWith ? nullptr : m_window, message);
}

void Win32MainWindow::WriteDebugText(const std::string& text) {
    ::OutputDebugStringW(Utf16FromUtf8(text + "\n").c_str());
}

void Win32MainWindow::Close(int result) {
    if (m_controller->JobRunning()) {
        // Gone for the operator at once; the modal run ends with the job (TakeJobEvents).
        m_closedWith = result;
        ::ShowWindow(m_window, SW_HIDE);
        return;
    }
    ::EndDialog(m_window, result);
}

// --- The log's menu, layout and painting ---------------------------------------------------

bool Win32MainWindow::OnContextMenu(LPARAM lParam) {
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
        // The Options entry, as in the system menu.
        ::AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(popup, MF_STRING, IDM_OPTIONS_COMMAND,
                      Utf16FromUtf8(OptionsDialog::kMenuEntry).c_str());
        ::AppendMenuW(popup, MF_STRING, kProductionCommand,
                      Utf16FromUtf8(kProductionMenuEntry).c_str());
        ::TrackPopupMenu(popup, TPM_RIGHTBUTTON, x, y, 0, m_window, nullptr);
    }
    ::DestroyMenu(menu);
    return true;
}

void Win32MainWindow::OnGetMinMaxInfo(MINMAXINFO& info) const {
    info.ptMinTrackSize.x = std::max({info.ptMinTrackSize.x, m_minTrackSize.cx, kMinimumWidth});
    info.ptMinTrackSize.y = std::max({info.ptMinTrackSize.y, m_minTrackSize.cy, kMinimumHeight});
}

void Win32MainWindow::LayOutLogList(int clientWidth, int clientHeight) {
    const HWND list = Item(IDC_LOG);
    if (list == nullptr) {
        return;
    }
    RECT rect{};
    ::GetWindowRect(list, &rect);
    ::MapWindowPoints(HWND_DESKTOP, m_window, reinterpret_cast<POINT*>(&rect), 2);
    const int width = std::max(0, clientWidth - kLogListMargin - static_cast<int>(rect.left));
    const int height =
        std::max(0, clientHeight - kLogListMargin - StatusLineSpace() - static_cast<int>(rect.top));
    ::SetWindowPos(list, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (const HWND status = Item(IDC_STATUS_LINE)) {
        ::SetWindowPos(status, nullptr, rect.left, clientHeight - StatusLineSpace(), width,
                       m_statusHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void Win32MainWindow::CreateStatusLine() {
    // Twice the window's font, bold, to be read from across the room; its words say the
    // outcome whatever colour the progress bar shows (Wine draws no failed bar).
    LOGFONTW font{};
    const auto dialogFont = reinterpret_cast<HFONT>(::SendMessageW(m_window, WM_GETFONT, 0, 0));
    if (dialogFont == nullptr ||
        ::GetObjectW(dialogFont, sizeof(font), &font) != static_cast<int>(sizeof(font))) {
        font.lfHeight = -::MulDiv(8, m_dpi, 72);
        font.lfCharSet = DEFAULT_CHARSET;
    }
    font.lfHeight *= 2;
    font.lfWeight = FW_BOLD;
    m_statusFont = ::CreateFontIndirectW(&font);
    const HWND status = ::CreateWindowExW(
        0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, 0, 0, 0,
        0, m_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS_LINE)), Instance(),
        nullptr);
    if (status == nullptr) {
        return;
    }
    HFONT shown = m_statusFont != nullptr ? m_statusFont : dialogFont;
    ::SendMessageW(status, WM_SETFONT, reinterpret_cast<WPARAM>(shown), FALSE);
    TEXTMETRICW metrics{};
    HDC dc = ::GetDC(status);
    const HGDIOBJ before = ::SelectObject(dc, shown);
    ::GetTextMetricsW(dc, &metrics);
    ::SelectObject(dc, before);
    ::ReleaseDC(status, dc);
    m_statusHeight = metrics.tmHeight + 4;
    // The template's controls keep their places: the window grows downwards.
    RECT window{};
    ::GetWindowRect(m_window, &window);
    ::SetWindowPos(m_window, nullptr, 0, 0, window.right - window.left,
                   window.bottom - window.top + StatusLineSpace(),
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int Win32MainWindow::StatusLineSpace() const {
    return m_statusHeight > 0 ? m_statusHeight + kLogListMargin : 0;
}

void Win32MainWindow::OnProduction() {
    Win32ProductionWindow::RunModal(m_window, m_app.ProgramDirectory(),
                                    m_app.GivenOptions().settingsKey, {});
}

void Win32MainWindow::OnOptions() {
    // The same store the settings were read from; the next Initialize takes the new values.
    RegistrySettingsStore store(HKEY_CURRENT_USER, m_app.GivenOptions().settingsKey);
    Win32OptionsWindow options(m_app.Settings(), store);
    if (options.DoModal(m_window) == IDOK) {
        m_controller->OnOptionsAccepted();
    }
}

bool Win32MainWindow::OnPaintIconic() {
    if (!::IsIconic(m_window)) {
        return false;
    }
    // Minimized: the icon, centred.
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(m_window, &paint);
    ::SendMessageW(m_window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client{};
    ::GetClientRect(m_window, &client);
    const int x = (client.right - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, m_icon);
    ::EndPaint(m_window, &paint);
    return true;
}

}  // namespace quillon
