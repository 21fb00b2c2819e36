#pragma once

namespace quillon {

// The signals a long-running POSIX program such as the virtual target handles.

// Routes the stop signals (SIGINT, SIGTERM, SIGHUP) to `onStop` and the report signal
// (SIGUSR1) to `onReport`. Both run in the signal handler: they may do only what a handler may
// (write a byte to a pipe).
void RouteStopAndReportSignals(void (*onStop)(), void (*onReport)());

// A reader that goes away (SIGPIPE) or a file size limit (SIGXFSZ) fails the write that met it,
// with its reason, instead of ending the program.
void FailWritesInsteadOfSignals();

// This process's number.
long CurrentProcessId();

// True when no process of number `pid` exists (any more).
bool ProcessIsGone(long pid);

}  // namespace quillon
