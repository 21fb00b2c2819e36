#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>

#include "platform/terminal_echo.h"

namespace quillon {

namespace {

// The terminal's settings before the echo went off, for the signal handlers: only
// async-signal-safe calls touch them there.
termios g_saved{};
termios g_quiet{};  // and with the echo off
volatile sig_atomic_t g_echoOff = 0;
struct sigaction g_previousContinue {};

// The signals that end the program without passing its normal end: faults, an abort, the
// keyboard's quit key.
constexpr int kEndingSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGQUIT};
struct sigaction g_previous[std::size(kEndingSignals)];

void RestoreEcho() {
    if (g_echoOff != 0) {
        // Retried while a signal interrupts it: the shell must get its echo back.
        while (::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved) != 0 && errno == EINTR) {
        }
        g_echoOff = 0;
    }
}

extern "C" void OnEndingSignal(int signal, siginfo_t* info, void*) {
    const int saved = errno;
    RestoreEcho();
    // What the signal did before takes it over again: the default ends the program as it
    // would have without this handler (a core dump where one is due), a handler of the
    // program's own (a sanitizer's report) runs.
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        if (kEndingSignals[i] == signal) {
            ::sigaction(signal, &g_previous[i], nullptr);
        }
    }
    errno = saved;
    // A fault comes again, with its own details, when the instruction that caused it runs
    // again on return; any other signal (sent, or the quit key) is raised once more.
    const bool fault =
        signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE || signal == SIGILL;
    if (!fault || info == nullptr || info->si_code <= 0) {
        ::raise(signal);
    }
}

// Back in the foreground after a stop (Ctrl+Z, then fg): the shell set its own settings
// meanwhile.
extern "C" void OnContinue(int) {
    const int saved = errno;
    if (g_echoOff != 0 && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp()) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_quiet);
    }
    errno = saved;
}

}  // namespace

TerminalEchoOff::TerminalEchoOff() {
    if (g_echoOff != 0 || ::isatty(STDIN_FILENO) == 0) {
        return;
    }
    // In the background of its own terminal a change would stop the program (SIGTTOU) and,
    // if it went through, take the echo from whoever works in the foreground.
    const pid_t foreground = ::tcgetpgrp(STDIN_FILENO);
    if (foreground != -1 && foreground != ::getpgrp()) {
        return;
    }
    termios settings{};
    if (::tcgetattr(STDIN_FILENO, &settings) != 0 || (settings.c_lflag & ECHO) == 0) {
        return;
    }
    g_saved = settings;
    struct sigaction action {};
    action.sa_sigaction = OnEndingSignal;
    // Raised again from the handler, the signal goes through at once.
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        // A signal the program was started to ignore (SIGQUIT in a background job) stays so.
        ::sigaction(kEndingSignals[i], nullptr, &g_previous[i]);
        if (g_previous[i].sa_handler != SIG_IGN) {
            ::sigaction(kEndingSignals[i], &action, nullptr);
        }
    }
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    g_quiet = settings;
    g_echoOff = 1;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &g_quiet) != 0) {
        g_echoOff = 0;
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
            ::sigaction(kEndingSignals[i], &g_previous[i], nullptr);
        }
        return;
    }
    struct sigaction onContinue {};
    onContinue.sa_handler = OnContinue;
    onContinue.sa_flags = SA_RESTART;
    sigemptyset(&onContinue.sa_mask);
    ::sigaction(SIGCONT, &onContinue, &g_previousContinue);
    m_active = true;
}

TerminalEchoOff::~TerminalEchoOff() {
    if (!m_active) {
        return;
    }
    ::sigaction(SIGCONT, &g_previousContinue, nullptr);
    RestoreEcho();
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        ::sigaction(kEndingSignals[i], &g_previous[i], nullptr);
    }
}

}  // namespace quillon
