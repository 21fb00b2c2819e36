#include "winapp/win32_message_box.h"

#include "winapp/download_app.h"
#include "winapp/utf16_text.h"

void ShowWin32MessageBox(HWND mainWindow, const std::string& text) {
    const std::wstring wide = Utf16FromUtf8(text);
    const bool inWindowThread =
        mainWindow != nullptr && ::IsWindow(mainWindow) &&
        ::GetWindowThreadProcessId(mainWindow, nullptr) == ::GetCurrentThreadId();
    if (inWindowThread) {
        ::MessageBoxW(mainWindow, wide.c_str(), L"Quillon", MB_OK | MB_ICONEXCLAMATION);
    } else {
        ::MessageBoxW(nullptr, wide.c_str(), L"Quillon",
                      MB_OK | MB_ICONEXCLAMATION | MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST);
    }
}

MessageBoxHandler InstallWin32MessageBoxHandler() {
    return SetMessageBoxHandler([](const std::string& text) {
        const CDownloadApp* app = GetDownloadApp();
        ShowWin32MessageBox(app != nullptr ? app->m_pMainWnd.load() : nullptr, text);
    });
}
