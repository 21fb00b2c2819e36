// quillon.exe: the main window as a native Win32 program.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/utf16_text.h"
#include "winapp/download_app.h"
#include "winapp/production_window.h"
#include "winapp/registry_settings_store.h"
#include "window/window_command_line.h"
#include "window/window_settings.h"

using namespace quillon;

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

// The arguments after the program's name, in UTF-8.
std::vector<std::string> Arguments() {
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> result;
    if (arguments != nullptr) {
        for (int i = 1; i < count; ++i) {
            result.push_back(Utf8FromUtf16(arguments[i]));
        }
        ::LocalFree(arguments);
    }
    return result;
}

// Writes `text` where a console program would: the standard handle as inherited (a pipe, a
// file), else the console of the program that started this one; a start without either (a
// shortcut) shows it in a box. Returns whether it was written.
bool WriteStandardText(DWORD which, const std::string& text) {
    HANDLE handle = ::GetStdHandle(which);
    if ((handle == nullptr || handle == INVALID_HANDLE_VALUE) &&
        ::AttachConsole(ATTACH_PARENT_PROCESS)) {
        handle = ::CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    }
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        ::MessageBoxW(nullptr, Utf16FromUtf8(text).c_str(), L"Quillon",
                      which == STD_ERROR_HANDLE ? MB_ICONWARNING : MB_ICONINFORMATION);
        return true;
    }
    DWORD written = 0;
    return ::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before any window: --help and --version answer on the standard output.
    const Result<WindowCommandLine> commandLine = ParseWindowCommandLine(Arguments());
    if (!commandLine) {
        WriteStandardText(STD_ERROR_HANDLE, WindowUsageErrorText(commandLine.error().text));
        return WindowExitStatus(commandLine.error());
    }
    switch (commandLine->action) {
        case WindowCommandLine::Action::kHelp:
            return WriteStandardText(STD_OUTPUT_HANDLE, WindowUsageText()) ? 0 : 1;
        case WindowCommandLine::Action::kVersion:
            return WriteStandardText(STD_OUTPUT_HANDLE, WindowVersionLine()) ? 0 : 1;
        case WindowCommandLine::Action::kOpen:
            break;
    }

    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES;
    ::InitCommonControlsEx(&controls);

    Win32DownloadApp app;
    // A target of the command line is one of the list, checked before the window opens.
    StartSelection selection = commandLine->selection;
    if (const Status listed =
            TakeListedTarget(selection, FindTargetFolders(app.ProgramDirectory()));
        !listed) {
        WriteStandardText(STD_ERROR_HANDLE, WindowUsageErrorText(listed.error().text));
        return WindowExitStatus(listed.error());
    }
    // So is its rate: an offered one, or one the Options dialog added.
    RegistrySettingsStore store(HKEY_CURRENT_USER, app.GivenOptions().settingsKey);
    if (const Status listed =
            CheckListedBaudRate(selection, LoadWindowSettings(store).addedBaudRates);
        !listed) {
        WriteStandardText(STD_ERROR_HANDLE, WindowUsageErrorText(listed.error().text));
        return WindowExitStatus(listed.error());
    }
    app.SetStart(std::move(selection));
    if (commandLine->production) {
        Win32ProductionWindow::RunModal(nullptr, app.ProgramDirectory(),
                                        app.GivenOptions().settingsKey,
                                        ImageFileArgument(Utf16FromUtf8(commandLine->imageFile)));
        return 0;
    }
    // A file named on the command line (the Explorer's "open with") goes into the image field.
    app.RunMainWindow(ImageFileArgument(Utf16FromUtf8(commandLine->imageFile)));
    return 0;
}
