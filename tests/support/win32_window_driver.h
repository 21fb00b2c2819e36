#pragma once

// Drives the Win32 main window (quillon.exe's Win32DownloadApp) from a test: the window runs its
// modal loop in a thread of its own, the test sends it the operator's messages and reads back
// what the operator sees. Every wait is bounded; on a time-out the test fails with a message
// and the window is closed, so the test always ends.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "helpers/result.h"
#include "winapp/download_app.h"
#include "window/window_lists.h"

namespace quillon {

namespace win32_window {

inline constexpr std::chrono::milliseconds kOpenTimeout{10000};   // window up / ended
inline constexpr std::chrono::milliseconds kPopupTimeout{5000};   // menu or box up / gone
inline constexpr std::chrono::milliseconds kAnswerTimeout{5000};  // one sent message
inline constexpr std::chrono::milliseconds kJobTimeout{60000};    // one job

// Polls `condition` every 20 ms until it holds (true) or `timeout` has passed (false).
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

// Texts, read the way another program reads them (WM_GETTEXT and the list messages, sent
// with a time-out; a window that does not answer fails the test).
std::wstring WindowText(HWND window);
std::wstring ClassName(HWND window);
std::vector<std::wstring> ComboTexts(HWND combo);
int ComboSelection(HWND combo);               // CB_GETCURSEL: -1 for none
std::wstring ComboSelectionText(HWND combo);  // empty for none
std::vector<std::wstring> ListTexts(HWND list);
// `child`'s window rectangle in `parent`'s client coordinates.
RECT RectInClient(HWND parent, HWND child);
// The direct children of `parent`.
std::vector<HWND> Children(HWND parent);

// SendMessageTimeoutW with kAnswerTimeout; on a time-out the test fails (naming `what`) and 0
// is returned. For messages that must not open anything modal.
LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, const char* what = "");

// The visible top-level windows of thread `threadId` of class `className` ("#32770" dialog
// boxes, "#32768" menus), `except` left out.
std::vector<HWND> ThreadWindows(DWORD threadId, const wchar_t* className, HWND except = nullptr);
// Waits (kPopupTimeout) for such a window, optionally with caption `caption`; nullptr on
// time-out.
HWND WaitForThreadWindow(DWORD threadId, const wchar_t* className, HWND except = nullptr,
                         const wchar_t* caption = nullptr);

// The entries of `menu`: their texts, "-" for separators.
std::vector<std::wstring> MenuTexts(HMENU menu);
// The menu that popup menu window (#32768) `popup` shows (MN_GETHMENU).
HMENU PopupMenuOf(HWND popup);

// A WM_DROPFILES handle for `files` (wide names), dropped at `point` of the client area. The
// receiver frees it with DragFinish.
HGLOBAL MakeDropHandle(const std::vector<std::wstring>& files, POINT point);

// A port enumeration that lists `ports` and reports success.
PortEnumerator ListPorts(std::vector<std::string> ports);

// The registry below HKEY_CURRENT_USER\<key>: `section` is "Last Connection" or "Settings".
struct RegistryValue {
    DWORD type = REG_NONE;
    std::wstring text;  // REG_SZ
    DWORD number = 0;   // REG_DWORD
};
std::optional<RegistryValue> ReadRegistryValue(const std::wstring& key, const wchar_t* section,
                                               const wchar_t* value);
void WriteRegistryText(const std::wstring& key, const wchar_t* section, const wchar_t* value,
                       const std::wstring& text);
void WriteRegistryNumber(const std::wstring& key, const wchar_t* section, const wchar_t* value,
                         DWORD number);
void DeleteRegistryKey(const std::wstring& key);
// The names of the values of HKEY_CURRENT_USER\<key>\<section> (none when it is missing).
std::vector<std::wstring> RegistryValueNames(const std::wstring& key, const wchar_t* section);

// Writes `window` as it shows on the screen (frame included) to `path` as a 24-bit .bmp, once
// it has done drawing (two pictures in a row the same, within kPopupTimeout).
Status SaveWindowBitmap(HWND window, const std::wstring& path);

// The main window of a Win32DownloadApp, running RunMainWindow in a thread of its own.
class WindowSession {
public:
    // `start`: what the command line selects for this start.
    explicit WindowSession(Win32DownloadApp::Options options, std::string imageFile = std::string(),
                           StartSelection start = {});
    // Closes what is still open (popups, a running job, the window), waits for the thread.
    ~WindowSession();
    WindowSession(const WindowSession&) = delete;
    WindowSession& operator=(const WindowSession&) = delete;

    // Whether the window came up within kOpenTimeout (the reason is in the test's failures).
    bool Opened() const { return m_window != nullptr; }
    HWND Window() const { return m_window; }
    HWND Control(int id) const;
    DWORD ThreadId() const { return m_threadId.load(); }
    Win32DownloadApp& App() { return *m_app; }

    // Operator actions, each sent (answered before they return).
    void Click(int id);
    // Selects the entry with exactly `text` (the test fails when there is none) and tells the
    // window as a selection by the operator does (CBN_SELCHANGE).
    void Select(int comboId, const std::wstring& text);
    void SetText(int id, const std::wstring& text);

    // What the operator sees.
    std::wstring Text(int id) const { return WindowText(Control(id)); }
    bool Enabled(int id) const { return ::IsWindowEnabled(Control(id)) != FALSE; }
    bool Checked(int id) const;
    std::vector<std::wstring> LogLines() const;
    std::wstring LastLogLine() const;
    // Whether the system menu's Close entry (and with it the close box) is usable.
    bool CloseEntryEnabled() const;

    // Waits for the end of a job: "Initialize" enabled again and the window done with setting
    // its controls.
    bool WaitForJobEnd(std::chrono::milliseconds timeout = kJobTimeout) const;

    // Waits for RunMainWindow to return; its result, or nothing on a time-out.
    std::optional<int> WaitForEnd(std::chrono::milliseconds timeout = kOpenTimeout);
    bool Ended() const { return m_ended; }

private:
    void CloseAll();

    std::unique_ptr<Win32DownloadApp> m_app;
    std::thread m_thread;
    std::atomic<bool> m_ended{false};
    std::atomic<int> m_result{-100};
    HWND m_window = nullptr;
    std::atomic<DWORD> m_threadId{0};
};

}  // namespace win32_window

}  // namespace quillon
