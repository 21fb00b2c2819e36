#include "platform/handle_wait_win32.h"

#include <algorithm>

namespace quillon {

namespace {

// While stations run, their pipes are looked at this often: a pipe cannot be waited for.
constexpr DWORD kOutputLookMs = 50;

}  // namespace

void WaitForStationsOrHandles(std::vector<HANDLE> handles,
                              const std::vector<ChildProcess*>& stations, int timeoutMs,
                              bool lookInTurn) {
    for (ChildProcess* station : stations) {
        handles.push_back(reinterpret_cast<HANDLE>(station->WaitHandle()));
    }
    DWORD timeout = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    if (!stations.empty() || lookInTurn) {
        timeout = std::min<DWORD>(timeout, kOutputLookMs);
    }
    if (handles.empty() || handles.size() > MAXIMUM_WAIT_OBJECTS) {
        ::Sleep(std::min<DWORD>(timeout, kOutputLookMs));
    } else {
        ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                 timeout);
    }
}

}  // namespace quillon
