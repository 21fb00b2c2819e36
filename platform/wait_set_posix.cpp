#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "platform/wait_set.h"

#include "platform/console.h"

namespace quillon {

namespace {

int g_stopPipe[2] = {-1, -1};  // wakes the wait when a stop request comes
// SIGINT, SIGTERM and SIGHUP (the terminal closed, an SSH session dropped) alike.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];

// Called for each stop request, also from the signal handler: only what is safe there.
void WakeTheWait() {
    const int saved = errno;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(g_stopPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

WaitSet::WaitSet(bool watchInput)
    : m_watchInput(watchInput), m_stopRequestsBefore(StopRequestCount()) {
    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_stopPipe[0] = g_stopPipe[1] = -1;
    }
    SetStopWaker(WakeTheWait);
    struct sigaction action {};
    action.sa_handler = StopSignalCounter();
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        ::sigaction(kStopSignals[i], &action, &g_previous[i]);
    }
}

WaitSet::~WaitSet() {
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        ::sigaction(kStopSignals[i], &g_previous[i], nullptr);
    }
    SetStopWaker(nullptr);
    for (int& fd : g_stopPipe) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

void WaitSet::Wait(const std::vector<ChildProcess*>& stations, int timeoutMs) {
    std::vector<pollfd> fds = {{g_stopPipe[0], POLLIN, 0},
                               {m_watchInput ? STDIN_FILENO : -1, POLLIN, 0}};
    for (ChildProcess* station : stations) {
        fds.push_back({static_cast<int>(station->WaitHandle()), POLLIN, 0});
    }
    if (g_stopPipe[0] < 0) {
        // Without the pipe a stop request is seen by looking.
        timeoutMs = timeoutMs < 0 ? 100 : std::min(timeoutMs, 100);
    }
    m_inputReady = false;
    if (::poll(fds.data(), fds.size(), timeoutMs) > 0) {
        m_inputReady = fds[1].revents != 0;
    }
    char buffer[64];
    while (g_stopPipe[0] >= 0 && ::read(g_stopPipe[0], buffer, sizeof buffer) > 0) {
    }
}

void WaitSet::Interrupt() {
    if (g_stopPipe[1] >= 0) {
        WakeTheWait();
    }
}

bool WaitSet::InputIsTerminal() {
    return ::isatty(STDIN_FILENO) != 0;
}

bool WaitSet::ReadInput() {
    if (!m_inputReady) {
        return true;
    }
    m_inputReady = false;
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return true;
    }
    if (n <= 0) {
        return false;
    }
    m_partial.append(buffer, static_cast<std::size_t>(n));
    return true;
}

}  // namespace quillon
