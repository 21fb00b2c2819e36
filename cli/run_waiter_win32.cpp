#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwctype>

#include "cli/run_waiter.h"
#include "link/port_address.h"
#include "helpers/text_format.h"
#include "platform/utf8_path.h"

namespace {

// While stations run, their pipes are looked at this often: a pipe cannot be waited for.
constexpr DWORD kOutputLookMs = 50;

std::atomic<int> g_stopRequests{0};
HANDLE g_stopEvent = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        g_stopRequests.fetch_add(1);
        ::SetEvent(g_stopEvent);
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

// "COM3", "com3" and "\\.\COM3" name one port.
std::wstring PortKey(const std::string& port) {
    std::wstring key = PathFromUtf8(port).wstring();
    if (key.rfind(L"\\\\.\\", 0) == 0) {
        key.erase(0, 4);
    }
    std::transform(key.begin(), key.end(), key.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    return key;
}

}  // namespace

RunWaiter::RunWaiter(bool watchInput) : m_watchInput(watchInput) {
    g_stopRequests = 0;
    g_stopEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

RunWaiter::~RunWaiter() {
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    if (g_stopEvent != nullptr) {
        ::CloseHandle(g_stopEvent);
        g_stopEvent = nullptr;
    }
}

void RunWaiter::Wait(const std::vector<StationProcess*>& stations, int timeoutMs) {
    std::vector<HANDLE> handles;
    if (g_stopEvent != nullptr) {
        handles.push_back(g_stopEvent);
    }
    const bool console = m_watchInput && IsConsole(Input());
    if (console) {
        handles.push_back(Input());
    }
    for (StationProcess* station : stations) {
        handles.push_back(station->ProcessHandle());
    }
    DWORD timeout = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    if (!stations.empty() || (m_watchInput && !console) || g_stopEvent == nullptr) {
        timeout = std::min<DWORD>(timeout, kOutputLookMs);
    }
    if (handles.empty() || handles.size() > MAXIMUM_WAIT_OBJECTS) {
        ::Sleep(std::min<DWORD>(timeout, kOutputLookMs));
    } else {
        ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                 timeout);
    }
    m_inputReady = m_watchInput;
}

int RunWaiter::StopRequests() const {
    return g_stopRequests.load();
}

bool RunWaiter::InputIsTerminal() {
    return IsConsole(Input());
}

bool RunWaiter::ReadInput() {
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

bool PortPresent(const std::string& port) {
    if (ParsePortAddress(port).IsNetwork()) {
        return true;  // a server's port: the connect tells whether it is there
    }
    wchar_t target[1024];
    return ::QueryDosDeviceW(PortKey(port).c_str(), target, 1024) != 0;
}

bool PortsAreOneDevice(const std::string& a, const std::string& b) {
    if (ParsePortAddress(a).IsNetwork() || ParsePortAddress(b).IsNetwork()) {
        return ParsePortAddress(a).SameNetworkPort(ParsePortAddress(b));
    }
    return PortKey(a) == PortKey(b) && PortPresent(a);
}

std::string SameDevice(const std::vector<std::string>& ports) {
    for (std::size_t i = 0; i < ports.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (PortsAreOneDevice(ports[j], ports[i]) || PortKey(ports[i]) == PortKey(ports[j])) {
                return "ports " + EscapeForTerminal(ports[j], false) + " and " +
                       EscapeForTerminal(ports[i], false) + " are the same device";
            }
        }
    }
    return {};
}
