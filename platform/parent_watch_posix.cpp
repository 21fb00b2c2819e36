#include "platform/parent_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace quillon {

struct ParentWatch::Impl {
    int wake[2] = {-1, -1};  // a pipe that ends the thread's wait
};

ParentWatch::ParentWatch(std::function<void()> onClosed)
    : m_onClosed(std::move(onClosed)), m_impl(std::make_unique<Impl>()) {
    int* const wake = m_impl->wake;
    if (::pipe2(wake, O_CLOEXEC) != 0) {
        // Without the pipe the thread could never be ended: no watch, and the run's abort
        // still reaches the program by its signals.
        wake[0] = wake[1] = -1;
        return;
    }
    m_thread = std::thread([this] { Watch(); });
}

ParentWatch::~ParentWatch() {
    if (m_thread.joinable()) {
        const char byte = 0;
        while (::write(m_impl->wake[1], &byte, 1) < 0 && errno == EINTR) {
        }
        m_thread.join();
    }
    for (const int fd : m_impl->wake) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void ParentWatch::Watch() {
    for (;;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {m_impl->wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if (fds[0].revents == 0) {
            continue;
        }
        char buffer[256];
        const ssize_t n =
            (fds[0].revents & POLLIN) != 0 ? ::read(STDIN_FILENO, buffer, sizeof buffer) : 0;
        if (n > 0 || (n < 0 && (errno == EINTR || errno == EAGAIN))) {
            continue;
        }
        m_onClosed();
        return;
    }
}

}  // namespace quillon
