#pragma once

#include <string>
#include <vector>

#include "platform/child_process.h"

namespace quillon {

// What a production run waits for, in the kernel: its stations' output and ends, the
// operator's input (whole lines), and requests to stop (SIGINT / SIGTERM / SIGHUP; Ctrl+C,
// Ctrl+Break and the console closing on Windows). Installs its stop handlers for as long as it
// lives.
class WaitSet {
public:
    // `watchInput`: read the operator's lines from stdin.
    explicit WaitSet(bool watchInput);
    ~WaitSet();
    WaitSet(const WaitSet&) = delete;
    WaitSet& operator=(const WaitSet&) = delete;

    // Waits until one of `stations` has output or has ended, the operator typed, a stop was
    // asked for, or `timeoutMs` passed (-1: no limit).
    void Wait(const std::vector<ChildProcess*>& stations, int timeoutMs);
    // Ends the wait in progress of the wait set that lives, or its next one, at once, without
    // counting as a stop request. Safe from any thread.
    static void Interrupt();
    // How many stop requests came since it was made.
    int StopRequests() const;
    // The lines the operator typed since the last call (without line ends); false once the
    // input has ended (then no more come).
    [[nodiscard]] bool TakeInput(std::vector<std::string>& lines);
    // True when stdin is a terminal (a console), where an operator types.
    static bool InputIsTerminal();

private:
    bool ReadInput();

    bool m_watchInput;
    int m_stopRequestsBefore;   // the process's stop requests before this wait set
    bool m_inputReady = false;  // the last wait saw input
    std::string m_partial;      // the start of a line not yet ended
};

}  // namespace quillon
