#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

#include "platform/process_signals.h"

namespace quillon {

namespace {

void (*g_onStop)() = nullptr;
void (*g_onReport)() = nullptr;

void OnSignal(int signal) {
    void (*route)() = signal == SIGUSR1 ? g_onReport : g_onStop;
    if (route != nullptr) {
        route();
    }
}

}  // namespace

void RouteStopAndReportSignals(void (*onStop)(), void (*onReport)()) {
    g_onStop = onStop;
    g_onReport = onReport;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) {
        sigaction(signal, &action, nullptr);
    }
}

void FailWritesInsteadOfSignals() {
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}

long CurrentProcessId() {
    return static_cast<long>(getpid());
}

bool ProcessIsGone(long pid) {
    return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

}  // namespace quillon
