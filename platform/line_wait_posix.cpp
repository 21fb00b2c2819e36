#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/line_wait.h"

namespace quillon {

namespace {

timespec ToTimespec(std::chrono::nanoseconds span) {
    timespec value{};
    value.tv_sec = static_cast<time_t>(span.count() / 1000000000);
    value.tv_nsec = static_cast<long>(span.count() % 1000000000);
    return value;
}

}  // namespace

LineWait::LineWait() {
    if (pipe(m_wake) == 0) {
        for (const int fd : m_wake) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    m_timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
}

LineWait::~LineWait() {
    for (const int fd : {m_wake[0], m_wake[1], m_timer}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

Status LineWait::Ready() const {
    if (m_wake[0] < 0) {
        return Fail(ErrorKind::kFailed, "cannot create the wake-up pipe");
    }
    return {};
}

void LineWait::Post(char code) {
    [[maybe_unused]] const ssize_t written = write(m_wake[1], &code, 1);
}

void LineWait::WakeUpPromptly() {
    // 1 µs of slack keeps the pacing close to the wire.
    prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
}

Result<LineWait::News> LineWait::Wait(
    const PseudoTerminal& line, bool quietLine, bool forRoom,
    std::optional<std::chrono::steady_clock::time_point> deadline) {
    const auto now = std::chrono::steady_clock::now();
    const bool look = deadline && *deadline <= now;
    bool timed = false;
    if (deadline && !look && m_timer >= 0) {
        // The steady clock is CLOCK_MONOTONIC, the timer's clock: the deadline is taken as it
        // is. Arming it again also clears an expiry that was never read.
        itimerspec value{};
        value.it_value = ToTimespec(deadline->time_since_epoch());
        timed = timerfd_settime(m_timer, TFD_TIMER_ABSTIME, &value, nullptr) == 0;
    }
    pollfd fds[4] = {
        {quietLine ? -1 : line.masterDescriptor(),
         static_cast<short>(POLLIN | (forRoom ? POLLOUT : 0)), 0},
        {line.watchDescriptor(), POLLIN, 0},
        {m_wake[0], POLLIN, 0},
        {timed ? m_timer : -1, POLLIN, 0},
    };
    // Without the timer a relative timeout from a fresh reading of the clock; a moment to look
    // only checks the descriptors.
    timespec timeout{};
    if (deadline && !timed && !look) {
        timeout = ToTimespec(std::max(std::chrono::nanoseconds::zero(),
                                      std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          *deadline - std::chrono::steady_clock::now())));
    }
    const int ready = ppoll(fds, 4, deadline && !timed ? &timeout : nullptr, nullptr);
    News news;
    if (ready < 0) {
        if (errno == EINTR) {
            return news;
        }
        return Fail(ErrorKind::kFailed,
                    std::string("cannot wait on the line: ") + std::strerror(errno));
    }
    news.line = fds[0].revents != 0;
    news.lineReadable = (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    news.lineWritable = (fds[0].revents & POLLOUT) != 0;
    news.hostChange = fds[1].revents != 0;
    if (fds[2].revents & POLLIN) {
        char codes[64];
        const ssize_t got = read(m_wake[0], codes, sizeof codes);
        if (got > 0) {
            news.codes.assign(codes, static_cast<std::size_t>(got));
        }
    }
    return news;
}

}  // namespace quillon
