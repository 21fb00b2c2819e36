#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "cli/run_waiter.h"
#include "platform/text_format.h"

namespace {

std::atomic<int> g_stopRequests{0};
int g_stopPipe[2] = {-1, -1};  // wakes the wait when a stop request comes
struct sigaction g_previous[2];

extern "C" void OnStopRequest(int) {
    const int saved = errno;
    g_stopRequests.fetch_add(1);
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(g_stopPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

RunWaiter::RunWaiter(bool watchInput) : m_watchInput(watchInput) {
    g_stopRequests = 0;
    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_stopPipe[0] = g_stopPipe[1] = -1;
    }
    struct sigaction action {};
    action.sa_handler = OnStopRequest;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &g_previous[0]);
    ::sigaction(SIGTERM, &action, &g_previous[1]);
}

RunWaiter::~RunWaiter() {
    ::sigaction(SIGINT, &g_previous[0], nullptr);
    ::sigaction(SIGTERM, &g_previous[1], nullptr);
    for (int& fd : g_stopPipe) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

void RunWaiter::Wait(const std::vector<StationProcess*>& stations, int timeoutMs) {
    std::vector<pollfd> fds = {{g_stopPipe[0], POLLIN, 0},
                               {m_watchInput ? STDIN_FILENO : -1, POLLIN, 0}};
    for (StationProcess* station : stations) {
        fds.push_back({station->OutputFd(), POLLIN, 0});
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

int RunWaiter::StopRequests() const {
    return g_stopRequests.load();
}

bool RunWaiter::InputIsTerminal() {
    return ::isatty(STDIN_FILENO) != 0;
}

bool RunWaiter::ReadInput() {
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

bool PortPresent(const std::string& port) {
    struct stat status {};
    return ::stat(port.c_str(), &status) == 0;
}

std::string SameDevice(const std::vector<std::string>& ports) {
    std::vector<std::pair<struct stat, std::string>> seen;
    for (const std::string& port : ports) {
        struct stat status {};
        if (::stat(port.c_str(), &status) != 0) {
            continue;
        }
        for (const auto& [other, name] : seen) {
            if (other.st_dev == status.st_dev && other.st_ino == status.st_ino) {
                return "ports " + EscapeForTerminal(name, false) + " and " +
                       EscapeForTerminal(port, false) + " are the same device";
            }
        }
        seen.emplace_back(status, port);
    }
    return {};
}
