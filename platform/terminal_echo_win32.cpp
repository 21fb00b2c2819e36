#include <windows.h>

#include "platform/terminal_echo.h"

namespace quillon {

namespace {

// The console's input mode before the echo went off.
DWORD g_savedMode = 0;
bool g_echoOff = false;

}  // namespace

TerminalEchoOff::TerminalEchoOff() {
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (g_echoOff || !::GetConsoleMode(input, &mode) || (mode & ENABLE_ECHO_INPUT) == 0) {
        return;
    }
    if (!::SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT))) {
        return;
    }
    g_savedMode = mode;
    g_echoOff = true;
    m_active = true;
}

TerminalEchoOff::~TerminalEchoOff() {
    if (m_active) {
        // The console keeps its mode after the program: the shell needs its echo back.
        ::SetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), g_savedMode);
        g_echoOff = false;
    }
}

}  // namespace quillon
