#include <windows.h>

#include "platform/terminal_echo.h"

namespace quillon {

namespace {

// The console's input mode before the echo went off.
DWORD g_savedMode = 0;
volatile LONG g_echoOff = 0;
LPTOP_LEVEL_EXCEPTION_FILTER g_previousFilter = nullptr;

void RestoreEcho() {
    if (::InterlockedExchange(&g_echoOff, 0) != 0) {
        ::SetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), g_savedMode);
    }
}

// A crash: the console keeps its mode after the program, so the echo comes back first.
LONG WINAPI RestoreOnCrash(EXCEPTION_POINTERS* exception) {
    RestoreEcho();
    return g_previousFilter != nullptr ? g_previousFilter(exception) : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

TerminalEchoOff::TerminalEchoOff() {
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (g_echoOff != 0 || !::GetConsoleMode(input, &mode) || (mode & ENABLE_ECHO_INPUT) == 0) {
        return;
    }
    g_savedMode = mode;
    if (!::SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT))) {
        return;
    }
    g_echoOff = 1;
    g_previousFilter = ::SetUnhandledExceptionFilter(RestoreOnCrash);
    m_active = true;
}

TerminalEchoOff::~TerminalEchoOff() {
    if (m_active) {
        ::SetUnhandledExceptionFilter(g_previousFilter);
        // The console keeps its mode after the program: the shell needs its echo back.
        RestoreEcho();
    }
}

}  // namespace quillon
