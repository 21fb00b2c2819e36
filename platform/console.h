#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace quillon {

// The terminal a command-line program runs in, and its command line.

// The size of the terminal that standard error shows on: columns and rows (80 and 24 when it
// cannot be told).
int TerminalColumns();
int TerminalRows();

// True when `stream` is a terminal (a console).
bool IsTerminal(std::FILE* stream);

// Lets standard error's terminal take the cursor and erase sequences and UTF-8 text (Windows
// consoles need to be asked; elsewhere nothing to do).
void EnableTerminalSequences();

// The program's arguments after its name, as UTF-8. On Windows `argv` is in the 8-bit code
// page, which cannot name every file, so the Unicode command line is taken instead.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// A log reader that goes away (`| head`) or a file size limit reached by the log or a record
// must not kill the program half way through a flash: such writes fail and are noticed.
void IgnoreWriteSignals();

// Stop requests: SIGINT, SIGTERM and, where there is one, SIGHUP (the terminal closed, an SSH
// session dropped) ask the job in work to end at its next step, instead of leaving a board half
// programmed without a word; a second SIGINT ends the program at once with
// `exitStatusOnSecondInterrupt`.
void CatchStopSignals(int exitStatusOnSecondInterrupt);
// True once a stop was asked for, by a signal or by RequestStop.
bool StopRequested();
// Asks for a stop (safe from any thread and from a signal handler).
void RequestStop();
// How many stop requests came so far.
int StopRequestCount();
// The handler that counts a stop signal, for a wait that installs it itself (WaitSet).
using StopSignalHandler = void (*)(int signal);
StopSignalHandler StopSignalCounter();
// While a wait set waits: `wake` (async-signal-safe) is called on each stop request, a second
// interrupt counts as one more instead of ending the program, and a hang-up after the first
// request is not counted again (the terminal and the shell that owned it both send one).
// nullptr ends that.
void SetStopWaker(void (*wake)());

}  // namespace quillon
