// quillon.exe: the main window as a native Win32 program.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "winapp/download_app.h"
#include "winapp/utf16_text.h"

namespace {

// A path or a file URL from the command line as the file's absolute path (UTF-8), or an empty
// text.
std::string ImageFileArgument(const std::wstring& argument) {
    std::wstring path = argument;
    if (argument.rfind(L"file:", 0) == 0) {
        std::vector<wchar_t> local(32768, L'\0');
        DWORD length = static_cast<DWORD>(local.size());
        if (FAILED(::PathCreateFromUrlW(argument.c_str(), local.data(), &length, 0))) {
            return std::string();
        }
        path.assign(local.data());
    }
    if (path.empty()) {
        return std::string();
    }
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return Utf8FromUtf16(path);
    }
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    full.resize(length < size ? length : 0);
    return Utf8FromUtf16(full.empty() ? path : full);
}

// The first argument after the program's name, or an empty text.
std::wstring FirstArgument() {
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::wstring first;
    if (arguments != nullptr) {
        if (count > 1) {
            first = arguments[1];
        }
        ::LocalFree(arguments);
    }
    return first;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    ::InitCommonControlsEx(&controls);

    CDownloadApp app;
    // A file named on the command line (the Explorer's "open with") goes into the image field.
    app.InitInstance(ImageFileArgument(FirstArgument()));
    return 0;
}
