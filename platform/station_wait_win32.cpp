#include <windows.h>

#include <utility>

#include "platform/handle_wait_win32.h"
#include "platform/station_wait.h"

namespace quillon {

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
    WaitForStationsOrHandles(std::move(handles), stations, timeoutMs, m_impl->wake == nullptr);
}

void StationWait::Wake() {
    if (m_impl->wake != nullptr) {
        ::SetEvent(m_impl->wake);
    }
}

}  // namespace quillon
