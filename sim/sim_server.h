#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "helpers/result.h"
#include "platform/line_wait.h"
#include "platform/port_link.h"
#include "platform/pseudo_terminal.h"
#include "sim/sim_report.h"
#include "sim/target_model.h"
#include "sim/target_uart.h"

namespace quillon {

struct SimServerOptions {
    std::string linkPath;       // empty: no link
    long baud = 0;              // 0: no pacing
    bool baudFromHost = false;  // pace at the rate the host set on the line instead of `baud`
    // The target's UART: its clock and prescaler (rate = clock / (prescale x (divider + 1))).
    // 0: no UART model, every byte passes as sent.
    std::uint32_t uartClockHz = 0;
    std::uint32_t uartPrescale = 1;
    // With pacing, how long before an answer byte is due the loop stops sleeping and keeps
    // looking: a sleeping thread wakes up some tens of microseconds late (about 30 typically,
    // 50 in nine cases out of ten on a loaded machine), a good part of a character time at
    // high baud rates. 0: sleep to the moment itself, for many targets on few cores.
    long spinAheadUs = 50;
    // The line as a USB serial adapter delivers it, on top of the pacing: bytes from the
    // target reach the host in batches at the next tick of this many microseconds (the
    // adapter's latency timer), bytes from the host reach the target at the next 1 ms USB
    // frame (the next tick when the ticks are shorter), so up to one tick late. 0: every byte
    // as it comes.
    long latencyUs = 0;
    int sessions = 0;             // stop after this many ended sessions; 0: no limit
    double exitAfterSeconds = 0;  // stop after this long; 0: no limit
};

// When the serving loop wakes up next: `spinAhead` before `answer` (never before `now`), the
// moment an answer byte is due or a received byte that may bring one, or at `other` (received
// bytes the target takes in silence, the time limit), whichever comes first; none when there
// is neither. At `now` or earlier: look without sleeping.
std::optional<SimClock::time_point> SimWakeUp(SimClock::time_point now,
                                              std::optional<SimClock::time_point> answer,
                                              std::optional<SimClock::time_point> other,
                                              SimClock::duration spinAhead);

// Runs the target model on a pseudo-terminal line. Every byte is delayed by its wire time at the
// given baud rate in both directions: a received byte reaches the model one character time
// after the previous one at the earliest, and an answer byte is written one character time
// after the previous one (bytes that bring no answer, most of a frame, reach it together, each
// stamped with its due time). With a latency, as a USB serial adapter: answer bytes reach the
// host in batches at each tick of its latency timer, and the received bytes that bring them
// are handed to the model together at that tick. Waiting happens in the kernel: the loop sleeps
// until an absolute deadline (a timer on the monotonic clock, so the waits never drift from the
// bytes' due times) or until something happens on a descriptor. Only with pacing, in the last 50 µs
// before an answer byte is due, the loop keeps looking instead of sleeping, since a thread's
// wake-up would cost a good part of a character time; so it takes little of the processor.
class SimServer {
public:
    SimServer(SimMonitorFile file, TargetSettings settings, SimServerOptions options);
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Creates the line and its link, and puts the idle noise fault on the line.
    [[nodiscard]] Status Open();
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
    [[nodiscard]] Status WriteDump(const std::string& path) const;
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
    // Reads the rate the host set on the line, for the pacing with baudFromHost and for the
    // UART, whose loader measures it and picks its divider.
    void FollowHostRate();
    // The adapter's next tick at or after `at`, and its next USB frame (`at` itself without a
    // latency).
    SimClock::time_point NextTick(SimClock::time_point at) const;
    SimClock::time_point NextFrame(SimClock::time_point at) const;
    void Queue(const std::vector<SimEmission>& emissions);
    void DeliverDue(SimClock::time_point now);
    void WriteDue(SimClock::time_point now);
    void ReadMaster(SimClock::time_point now);
    void HostDisconnected(SimClock::time_point now);
    void HangUp(SimClock::time_point now);
    // True while a hang-up that is due waits for the host to read what was sent before it.
    bool HangUpHeld(SimClock::time_point now) const;
    bool Finished(SimClock::time_point now) const;
    // When the loop must look again next (none: only when something happens), and whether
    // the line is left unwatched for now (no host side open, see ReadMaster).
    std::optional<SimClock::time_point> NextWakeUp(SimClock::time_point now, bool lineQuiet);
    // Takes what a wait brought: room on the line, a host that came or went, the host's bytes,
    // posted codes.
    void TakeNews(const LineWait::News& news);

    mutable std::mutex m_mutex;  // guards the model, the slave path and the rates
    TargetModel m_model;
    SimServerOptions m_options;
    std::optional<TargetUart> m_uart;  // with a UART clock
    std::uint32_t m_hostRate = 0;      // the rate the host set, when it is followed
    PseudoTerminal m_line;
    PortLink m_link;
    std::string m_slavePath;
    LineWait m_wait;
    std::atomic<bool> m_stop{false};
    std::deque<RxByte> m_rx;
    std::deque<TxByte> m_tx;
    SimClock::time_point m_lastRxDue{};
    SimClock::time_point m_lastTxDue{};  // when the last queued byte leaves the wire
    SimClock::time_point m_started{};
    bool m_masterQuietUntilSet = false;
    SimClock::time_point m_masterQuietUntil{};
    bool m_writeBlocked = false;
    SimClock::time_point m_lastWrite{};  // when bytes last went onto the line
};

}  // namespace quillon
