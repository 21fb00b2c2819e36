#include <io.h>
#include <windows.h>
// after windows.h, which it builds on
#include <shellapi.h>

#include "platform/console.h"
#include "platform/utf16_text.h"

namespace quillon {

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) {
        return info.srWindow.Right - info.srWindow.Left + 1;
    }
    return 80;
}

int TerminalRows() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) {
        return info.srWindow.Bottom - info.srWindow.Top + 1;
    }
    return 24;
}

bool IsTerminal(std::FILE* stream) {
    return ::_isatty(::_fileno(stream)) != 0;
}

void EnableTerminalSequences() {
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (::GetConsoleMode(err, &mode)) {
        ::SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
    ::SetConsoleOutputCP(CP_UTF8);
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    int count = 0;
    if (LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        std::vector<std::string> arguments;
        for (int i = 1; i < count; ++i) {
            arguments.push_back(Utf8FromUtf16(wide[i]));
        }
        ::LocalFree(wide);
        return arguments;
    }
    return std::vector<std::string>(argv + 1, argv + argc);
}

void IgnoreWriteSignals() {}

}  // namespace quillon
