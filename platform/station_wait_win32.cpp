#include <windows.h>

#include <algorithm>

#include "platform/station_wait.h"

namespace quillon {

namespace {

// While stations run, their pipes are looked at this often: a pipe cannot be waited for.
constexpr DWORD kOutputLookMs = 50;

}  // namespace

struct StationWait::Impl {
    HANDLE wake = nullptr;  // an auto-reset event: set by Wake
};

StationWait::StationWait() : m_impl(std::make_unique<Impl>()) {
    m_impl->wake = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

StationWait::~StationWait() {
    if (m_impl->wake != nullptr) {
        ::CloseHandle(m_impl->wake);
    }
}

void StationWait::Wait(const std::vector<ChildProcess*>& stations, int timeoutMs) {
    std::vector<HANDLE> handles;
    if (m_impl->wake != nullptr) {
        handles.push_back(m_impl->wake);
    }
    for (ChildProcess* station : stations) {
        handles.push_back(reinterpret_cast<HANDLE>(station->WaitHandle()));
    }
    DWORD timeout = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    if (!stations.empty() || m_impl->wake == nullptr) {
        timeout = std::min<DWORD>(timeout, kOutputLookMs);
    }
    if (handles.empty() || handles.size() > MAXIMUM_WAIT_OBJECTS) {
        ::Sleep(std::min<DWORD>(timeout, kOutputLookMs));
    } else {
        ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                 timeout);
    }
}

void StationWait::Wake() {
    if (m_impl->wake != nullptr) {
        ::SetEvent(m_impl->wake);
    }
}

}  // namespace quillon
