#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "sim/pty_line.h"
#include "sim/sim_report.h"
#include "sim/target_model.h"

struct SimServerOptions {
    std::string linkPath;         // empty: no link
    long baud = 0;                // 0: no pacing
    int sessions = 0;             // stop after this many ended sessions; 0: no limit
    double exitAfterSeconds = 0;  // stop after this long; 0: no limit
};

// Runs the target model on a pseudo-terminal line. Every byte is delayed by its wire time at the
// given baud rate in both directions: a received byte reaches the model one character time
// after the previous one at the earliest, and an answer byte is written one character time
// after the previous one. Waiting happens in the kernel (ppoll until the next due byte); only
// with pacing, for 300 µs around traffic and before a due byte, the loop keeps looking instead
// of sleeping, since a thread's wake-up would cost a good part of a character time.
class SimServer {
public:
    SimServer(SimMonitorFile file, TargetSettings settings, SimServerOptions options);
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Creates the line and its link, and puts the idle noise fault on the line.
    bool Open(std::string* error);
    // Serves until Stop(), the session limit or the time limit (counted from Open()).
    void Run();

    // Both only write one byte to a pipe, so a signal handler may call them.
    void Stop();
    void RequestReport();

    // Called on Run()'s thread: after a hang-up fault with the new line's slave path, and on
    // RequestReport().
    std::function<void(const std::string& slavePath)> onLineChanged;
    std::function<void()> onReportRequest;

    std::string slavePath() const;
    std::string linkPath() const { return m_link.path(); }
    std::string ReportJson() const;
    bool WriteDump(const std::string& path, std::string* error) const;
    int sessionsEnded() const;

private:
    struct TxByte {
        SimClock::time_point due;
        std::uint8_t byte = 0;
        bool hangup = false;
    };
    struct RxByte {
        SimClock::time_point due;
        std::uint8_t byte = 0;
    };

    SimClock::duration CharacterTime() const;
    void Queue(const std::vector<SimEmission>& emissions);
    void DeliverDue(SimClock::time_point now);
    void WriteDue(SimClock::time_point now);
    void ReadMaster(SimClock::time_point now);
    void HostDisconnected(SimClock::time_point now);
    void HangUp(SimClock::time_point now);
    bool Finished(SimClock::time_point now) const;

    mutable std::mutex m_mutex;  // guards the model and the slave path
    TargetModel m_model;
    SimServerOptions m_options;
    PtyLine m_line;
    PortLink m_link;
    std::string m_slavePath;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_stop{false};
    std::deque<RxByte> m_rx;
    std::deque<TxByte> m_tx;
    SimClock::time_point m_lastRxDue{};
    SimClock::time_point m_lastTxDue{};
    SimClock::time_point m_started{};
    bool m_masterQuietUntilSet = false;
    SimClock::time_point m_masterQuietUntil{};
    bool m_writeBlocked = false;
    // When the line last carried a byte either way (pacing keeps the loop awake around it).
    SimClock::time_point m_lastTraffic{};
};
