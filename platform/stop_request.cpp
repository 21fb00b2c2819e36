#include <atomic>
#include <csignal>
#include <cstdlib>

#include "platform/console.h"

namespace quillon {

namespace {

std::atomic<int> g_stopRequested{0};
std::atomic<int> g_exitOnSecondInterrupt{130};

extern "C" void OnStopSignal(int signal) {
    if (signal == SIGINT && g_stopRequested.load() != 0) {
        std::_Exit(g_exitOnSecondInterrupt.load());
    }
    g_stopRequested = 1;
    std::signal(signal, OnStopSignal);
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
    return g_stopRequested.load() != 0;
}

void RequestStop() {
    g_stopRequested = 1;
}

}  // namespace quillon
