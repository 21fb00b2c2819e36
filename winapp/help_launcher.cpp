#include "winapp/help_launcher.h"

#include <shellapi.h>

#include "platform/utf16_text.h"
#include "winapp/win32_message_box.h"
#include "window/help_launch.h"

namespace quillon {

namespace {

// Shows the wait cursor while it lives.
class WaitCursor {
public:
    WaitCursor() : m_previous(::SetCursor(::LoadCursorW(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { ::SetCursor(m_previous); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR m_previous;
};

// `text` in double quotes. Windows paths hold no quote character.
std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

bool StartViewer(const std::wstring& viewer, const std::wstring& path) {
    std::wstring commandLine = HelpViewerCommandLine(viewer, path);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    const WaitCursor waitCursor;
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        return false;
    }
    // Bounded: a viewer that never gets ready must not hang the window.
    ::WaitForInputIdle(process.hProcess, kHelpViewerIdleTimeoutMs);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
}

}  // namespace

std::wstring HelpViewerCommandLine(const std::wstring& viewer, const std::wstring& path) {
    return Quoted(viewer) + L" " + Quoted(path);
}

bool ShowHelp(HWND owner, const std::string& path) {
    const std::wstring file = Utf16FromUtf8(path);
    wchar_t viewer[MAX_PATH + 1] = {};
    const auto found = reinterpret_cast<INT_PTR>(::FindExecutableW(file.c_str(), L"", viewer));
    HelpLaunch result = HelpLaunch::kOpened;
    if (found <= 32 || viewer[0] == L'\0') {
        result = HelpLaunch::kNotFound;
    } else if (!StartViewer(viewer, file)) {
        result = HelpLaunch::kStartFailed;
    }
    if (const auto message = HelpLaunchMessage(result, path)) {
        ShowMessageBox(owner, *message);
    }
    return result == HelpLaunch::kOpened;
}

}  // namespace quillon
