#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>

#include "platform/station_wait.h"

namespace quillon {

struct StationWait::Impl {
    int pipe[2] = {-1, -1};  // a byte in it: a wake-up
};

StationWait::StationWait() : m_impl(std::make_unique<Impl>()) {
    if (::pipe2(m_impl->pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_impl->pipe[0] = m_impl->pipe[1] = -1;
    }
}

StationWait::~StationWait() {
    for (const int fd : m_impl->pipe) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void StationWait::Wait(const std::vector<ChildProcess*>& stations, int timeoutMs) {
    std::vector<pollfd> fds = {{m_impl->pipe[0], POLLIN, 0}};
    for (ChildProcess* station : stations) {
        fds.push_back({static_cast<int>(station->WaitHandle()), POLLIN, 0});
    }
    if (m_impl->pipe[0] < 0) {
        // Without the pipe a wake-up is seen by looking: the caller checks after each wait.
        timeoutMs = timeoutMs < 0 ? 100 : std::min(timeoutMs, 100);
    }
    ::poll(fds.data(), fds.size(), timeoutMs);
    char buffer[64];
    while (m_impl->pipe[0] >= 0 && ::read(m_impl->pipe[0], buffer, sizeof buffer) > 0) {
    }
}

void StationWait::Wake() {
    if (m_impl->pipe[1] >= 0) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t n = ::write(m_impl->pipe[1], &byte, 1);
    }
}

}  // namespace quillon
