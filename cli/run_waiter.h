#pragma once

#include <string>
#include <vector>

#include "cli/station_process.h"

// What a production run waits for, in the kernel: its stations' output and ends, the
// operator's input (whole lines), and requests to stop (SIGINT / SIGTERM / SIGHUP; Ctrl+C,
// Ctrl+Break and the console closing on Windows). Installs its stop handlers for as long as it
// lives.
class RunWaiter {
public:
    // `watchInput`: read the operator's lines from stdin.
    explicit RunWaiter(bool watchInput);
    ~RunWaiter();
    RunWaiter(const RunWaiter&) = delete;
    RunWaiter& operator=(const RunWaiter&) = delete;

    // Waits until one of `stations` has output or has ended, the operator typed, a stop was
    // asked for, or `timeoutMs` passed (-1: no limit).
    void Wait(const std::vector<StationProcess*>& stations, int timeoutMs);
    // How many stop requests came so far.
    int StopRequests() const;
    // The lines the operator typed since the last call (without line ends); false once the
    // input has ended (then no more come).
    bool TakeInput(std::vector<std::string>& lines);
    // True when stdin is a terminal (a console), where an operator types.
    static bool InputIsTerminal();

private:
    bool ReadInput();

    bool m_watchInput;
    bool m_inputReady = false;  // the last wait saw input
    std::string m_partial;      // the start of a line not yet ended
};

// True when the serial port `port` exists now (a device node, or a COM name the system knows).
bool PortPresent(const std::string& port);

// True when `a` and `b` both exist now and are one device (a link and the device itself, two
// links to it, two names of one COM port).
bool PortsAreOneDevice(const std::string& a, const std::string& b);

// Two names among `ports` of one device (a link and the device itself, say): two stations
// would talk to one board at once. Returns the message naming the pair, or empty. Names that
// do not exist yet are left to their stations.
std::string SameDevice(const std::vector<std::string>& ports);
