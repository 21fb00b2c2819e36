#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "platform/console.h"

namespace quillon {

// The one record of stop requests of the process: signals, console events and RequestStop
// all count here, whoever waits for them (the single run's job, a production run's wait set).

namespace {

std::atomic<int> g_stopRequests{0};
std::atomic<int> g_exitOnSecondInterrupt{130};
std::atomic<void (*)()> g_waker{nullptr};

extern "C" void OnStopSignal(int signal) {
    const int saved = errno;
    const bool again = g_stopRequests.load() != 0;
    void (*const wake)() = g_waker.load();
#ifdef SIGHUP
    if (signal == SIGHUP && again && wake != nullptr) {
        errno = saved;
        return;
    }
#endif
    if (signal == SIGINT && again && wake == nullptr) {
        std::_Exit(g_exitOnSecondInterrupt.load());
    }
    RequestStop();
    if (wake == nullptr) {
        std::signal(signal, OnStopSignal);  // installed by CatchStopSignals: kept for the next
    }
    errno = saved;
}

}  // namespace

void CatchStopSignals(int exitStatusOnSecondInterrupt) {
    g_exitOnSecondInterrupt = exitStatusOnSecondInterrupt;
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
#ifdef SIGHUP
    std::signal(SIGHUP, OnStopSignal);
#endif
}

bool StopRequested() {
    return g_stopRequests.load() != 0;
}

void RequestStop() {
    g_stopRequests.fetch_add(1);
    if (void (*const wake)() = g_waker.load(); wake != nullptr) {
        wake();
    }
}

int StopRequestCount() {
    return g_stopRequests.load();
}

StopSignalHandler StopSignalCounter() {
    return OnStopSignal;
}

void SetStopWaker(void (*wake)()) {
    g_waker = wake;
}

}  // namespace quillon
