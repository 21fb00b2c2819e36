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

Status LaunchHelpViewer(const std::string& path) {
    const std::wstring file = Utf16FromUtf8(path);
    wchar_t viewer[MAX_PATH + 1] = {};
    const auto found = reinterpret_cast<INT_PTR>(::FindExecutableW(file.c_str(), L"", viewer));
    if (found <= 32 || viewer[0] == L'\0') {
        return Fail(ErrorKind::kNotFound, "no file or viewer for " + path + " (FindExecutable " +
                                              std::to_string(found) + ")");
    }
    if (!StartViewer(viewer, file)) {
        return Fail(ErrorKind::kFailed, "the viewer for " + path + " did not start");
    }
    return {};
}

void ShowHelp(HWND owner, const std::string& path) {
    if (const Status launched = LaunchHelpViewer(path); !launched) {
        ShowMessageBox(owner, HelpLaunchMessage(launched.error(), path));
    }
}

}  // namespace quillon
