#include <windows.h>

#include <utility>

#include "platform/console.h"
#include "platform/handle_wait_win32.h"
#include "platform/wait_set.h"

namespace quillon {

namespace {

HANDLE g_stopEvent = nullptr;

void WakeTheWait() {
    ::SetEvent(g_stopEvent);
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        RequestStop();
        return TRUE;
    }
    return FALSE;
}

HANDLE Input() {
    return ::GetStdHandle(STD_INPUT_HANDLE);
}

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return ::GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

WaitSet::WaitSet(bool watchInput)
    : m_watchInput(watchInput), m_stopRequestsBefore(StopRequestCount()) {
    g_stopEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (g_stopEvent != nullptr) {
        SetStopWaker(WakeTheWait);
    }
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

WaitSet::~WaitSet() {
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    SetStopWaker(nullptr);
    if (g_stopEvent != nullptr) {
        ::CloseHandle(g_stopEvent);
        g_stopEvent = nullptr;
    }
}

void WaitSet::Wait(const std::vector<ChildProcess*>& stations, int timeoutMs) {
    std::vector<HANDLE> handles;
    if (g_stopEvent != nullptr) {
        handles.push_back(g_stopEvent);
    }
    const bool console = m_watchInput && IsConsole(Input());
    if (console) {
        handles.push_back(Input());
    }
    WaitForStationsOrHandles(std::move(handles), stations, timeoutMs,
                             (m_watchInput && !console) || g_stopEvent == nullptr);
    m_inputReady = m_watchInput;
}

void WaitSet::Interrupt() {
    if (g_stopEvent != nullptr) {
        ::SetEvent(g_stopEvent);
    }
}

bool WaitSet::InputIsTerminal() {
    return IsConsole(Input());
}

bool WaitSet::ReadInput() {
    if (!m_inputReady) {
        return true;
    }
    m_inputReady = false;
    const HANDLE input = Input();
    if (IsConsole(input)) {
        // Key presses, taken one by one so that nothing blocks: Enter ends a line.
        DWORD count = 0;
        while (::GetNumberOfConsoleInputEvents(input, &count) && count > 0) {
            INPUT_RECORD record;
            DWORD got = 0;
            if (!::ReadConsoleInputW(input, &record, 1, &got) || got == 0) {
                return false;
            }
            if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) {
                continue;
            }
            const wchar_t c = record.Event.KeyEvent.uChar.UnicodeChar;
            if (c == L'\r' || c == L'\n') {
                m_partial += '\n';
            } else if (c >= 0x20 && c < 0x7F) {
                m_partial += static_cast<char>(c);
            }
        }
        return true;
    }
    DWORD available = 0;
    if (::GetFileType(input) == FILE_TYPE_PIPE) {
        if (!::PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) {
            return false;
        }
        if (available == 0) {
            return true;
        }
    }
    char buffer[256];
    DWORD got = 0;
    if (!::ReadFile(input, buffer,
                    available > 0 ? std::min<DWORD>(available, sizeof buffer) : sizeof buffer, &got,
                    nullptr) ||
        got == 0) {
        return false;
    }
    for (DWORD i = 0; i < got; ++i) {
        if (buffer[i] != '\r') {
            m_partial += buffer[i];
        }
    }
    return true;
}

}  // namespace quillon
