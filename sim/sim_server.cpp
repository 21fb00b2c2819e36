#include "sim/sim_server.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/prctl.h>
#include <sys/timerfd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <optional>

#include "sim/sim_output_file.h"

namespace quillon {

namespace {

constexpr auto kEioBackoff = std::chrono::milliseconds(50);
// A hang-up closes the line after the answers before it, not over them: closing the master
// throws away what the host has not read yet. So the hang-up waits until the host has taken
// those bytes (looked at every few ms, the first look a moment after the last write, when the
// bytes have reached the host's side), but never longer than a host that stopped reading
// needs to be shown the closed line.
constexpr auto kHangUpSettle = std::chrono::milliseconds(5);
constexpr auto kHangUpHoldLimit = std::chrono::seconds(2);

}  // namespace

SimServer::SimServer(SimMonitorFile file, TargetSettings settings, SimServerOptions options)
    : m_model(std::move(file), std::move(settings)), m_options(std::move(options)) {
    if (pipe(m_wake) == 0) {
        for (const int fd : m_wake) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
#ifdef __linux__
    m_timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
#endif
}

SimServer::~SimServer() {
    m_link.Remove();
    m_line.Close();
    for (const int fd : {m_wake[0], m_wake[1], m_timer}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool SimServer::Open(std::string* error) {
    if (m_wake[0] < 0) {
        *error = "cannot create the wake-up pipe";
        return false;
    }
    if (!m_line.Open(error)) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_slavePath = m_line.slavePath();
    }
    if (!m_options.linkPath.empty() && !m_link.Point(m_options.linkPath, m_slavePath, error)) {
        m_line.Close();
        return false;
    }
    // Idle noise waits on the line before anyone learns its path, so that a host opening it
    // at once finds the noise there and drops it instead of taking it for an answer.
    m_started = SimClock::now();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_model.Start(m_started);
        Queue(m_model.TakeEmissions());
    }
    WriteDue(m_started);
    return true;
}

void SimServer::Stop() {
    const char code = 'q';
    [[maybe_unused]] const ssize_t written = write(m_wake[1], &code, 1);
}

void SimServer::RequestReport() {
    const char code = 'r';
    [[maybe_unused]] const ssize_t written = write(m_wake[1], &code, 1);
}

std::string SimServer::slavePath() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_slavePath;
}

std::string SimServer::ReportJson() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return SimReportJson(m_model, {m_slavePath, m_link.path(), m_options.baud});
}

int SimServer::sessionsEnded() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_model.sessionsEnded();
}

bool SimServer::WriteDump(const std::string& path, std::string* error) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::vector<std::uint8_t>& bytes = m_model.flash().bytes();
    return WriteOutputFile(
        path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
        "the flash dump", error);
}

SimClock::duration SimServer::CharacterTime() const {
    if (m_options.baud <= 0) {
        return SimClock::duration::zero();
    }
    // Ten bits a character: start bit, eight data bits, stop bit.
    return std::chrono::duration_cast<SimClock::duration>(std::chrono::nanoseconds(
        static_cast<long long>(10.0e9 / static_cast<double>(m_options.baud))));
}

namespace {

// The first moment at or after `at` that is a whole number of `tick`s after `start`.
SimClock::time_point Aligned(SimClock::time_point at, SimClock::time_point start,
                             SimClock::duration tick) {
    if (at <= start) {
        return at;
    }
    const auto ticks = (at - start + tick - SimClock::duration(1)) / tick;
    return start + ticks * tick;
}

constexpr long kUsbFrameUs = 1000;

}  // namespace

SimClock::time_point SimServer::NextTick(SimClock::time_point at) const {
    if (m_options.latencyUs <= 0) {
        return at;
    }
    return Aligned(at, m_started, std::chrono::microseconds(m_options.latencyUs));
}

SimClock::time_point SimServer::NextFrame(SimClock::time_point at) const {
    if (m_options.latencyUs <= 0) {
        return at;
    }
    return Aligned(at, m_started,
                   std::chrono::microseconds(std::min(m_options.latencyUs, kUsbFrameUs)));
}

void SimServer::Queue(const std::vector<SimEmission>& emissions) {
    const SimClock::duration tau = CharacterTime();
    // A byte is due at the host once it has left the wire and, with a latency, at the
    // adapter's next tick after that.
    for (const SimEmission& emission : emissions) {
        if (emission.hangup) {
            m_lastTxDue = std::max(m_lastTxDue, emission.notBefore);
            m_tx.push_back({NextTick(m_lastTxDue), 0, true});
            continue;
        }
        for (const std::uint8_t byte : emission.bytes) {
            m_lastTxDue = std::max(m_lastTxDue, emission.notBefore) + tau;
            m_tx.push_back({NextTick(m_lastTxDue), byte, false});
        }
    }
}

void SimServer::DeliverDue(SimClock::time_point now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    while (!m_rx.empty() && m_rx.front().due <= now) {
        m_model.Receive(m_rx.front().byte, m_rx.front().due);
        m_rx.pop_front();
    }
    Queue(m_model.TakeEmissions());
}

void SimServer::WriteDue(SimClock::time_point now) {
    std::vector<std::uint8_t> bytes;
    std::size_t taken = 0;
    while (taken < m_tx.size() && m_tx[taken].due <= now && !m_tx[taken].hangup) {
        bytes.push_back(m_tx[taken].byte);
        ++taken;
    }
    if (!bytes.empty()) {
        const ssize_t written = write(m_line.masterFd(), bytes.data(), bytes.size());
        m_writeBlocked = written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        if (written > 0) {
            m_lastWrite = now;
            m_tx.erase(m_tx.begin(), m_tx.begin() + written);
        } else if (!m_writeBlocked) {
            m_tx.erase(m_tx.begin(), m_tx.begin() + static_cast<std::ptrdiff_t>(taken));
        }
        if (written < static_cast<ssize_t>(taken)) {
            return;
        }
    }
    if (!m_tx.empty() && m_tx.front().hangup && m_tx.front().due <= now && !HangUpHeld(now)) {
        HangUp(now);
    }
}

bool SimServer::HangUpHeld(SimClock::time_point now) const {
    if (m_tx.empty() || !m_tx.front().hangup || m_tx.front().due > now ||
        now - m_tx.front().due >= kHangUpHoldLimit) {
        return false;
    }
    return now - m_lastWrite < kHangUpSettle ||
           (m_line.hostOpenCount() > 0 && m_line.UnreadByHost() > 0);
}

void SimServer::ReadMaster(SimClock::time_point now) {
    const SimClock::duration tau = CharacterTime();
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t got = read(m_line.masterFd(), buffer, sizeof buffer);
        if (got > 0) {
            for (ssize_t i = 0; i < got; ++i) {
                // With a latency the host's bytes go out in the adapter's next USB frame.
                const SimClock::time_point sent = NextFrame(now);
                m_lastRxDue = tau == SimClock::duration::zero() && m_options.latencyUs <= 0
                                  ? now
                                  : std::max(m_lastRxDue, sent) + tau;
                m_rx.push_back({m_lastRxDue, buffer[i]});
            }
            if (static_cast<std::size_t>(got) < sizeof buffer) {
                return;  // the line had no more just now; the next poll reports what comes
            }
            continue;
        }
        if (got < 0 && errno == EIO) {
            // No slave open on the line: wait a little before asking again rather than spin.
            m_masterQuietUntilSet = true;
            m_masterQuietUntil = now + kEioBackoff;
        }
        return;
    }
}

void SimServer::HostDisconnected(SimClock::time_point now) {
    // What the host sent still arrives; what the target answers now is lost with the line.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        while (!m_rx.empty()) {
            m_model.Receive(m_rx.front().byte, std::max(now, m_rx.front().due));
            m_rx.pop_front();
        }
        m_model.TakeEmissions();
        m_tx.clear();
        m_model.LineClosed(now);
        Queue(m_model.TakeEmissions());
    }
}

void SimServer::HangUp(SimClock::time_point now) {
    m_tx.clear();
    m_rx.clear();
    std::string error;
    std::string path;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_line.Close();
        if (!m_line.Open(&error)) {
            m_stop = true;
            return;
        }
        m_slavePath = path = m_line.slavePath();
        if (!m_link.path().empty()) {
            const std::string link = m_link.path();
            m_link.Point(link, path, &error);
        }
        m_model.LineHungUp(now);
        m_lastTxDue = m_lastRxDue = now;
        Queue(m_model.TakeEmissions());
    }
    if (onLineChanged) {
        onLineChanged(path);
    }
}

bool SimServer::Finished(SimClock::time_point now) const {
    if (m_stop) {
        return true;
    }
    if (m_options.exitAfterSeconds > 0 &&
        now - m_started >= std::chrono::duration<double>(m_options.exitAfterSeconds)) {
        return true;
    }
    return m_options.sessions > 0 && m_tx.empty() && m_rx.empty() &&
           sessionsEnded() >= m_options.sessions;
}

std::optional<SimClock::time_point> SimWakeUp(SimClock::time_point now,
                                              std::optional<SimClock::time_point> answer,
                                              std::optional<SimClock::time_point> other,
                                              SimClock::duration spinAhead) {
    if (answer) {
        answer = std::max(now, *answer - spinAhead);
    }
    if (answer && other) {
        return std::min(*answer, *other);
    }
    return answer ? answer : other;
}

bool SimServer::ArmTimer(SimClock::time_point at) {
#ifdef __linux__
    if (m_timer < 0) {
        return false;
    }
    // The steady clock is CLOCK_MONOTONIC, the timer's clock: the deadline is taken as it is.
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
    itimerspec value{};
    value.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
    value.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
    // Arming it again also clears an expiry that was never read.
    return timerfd_settime(m_timer, TFD_TIMER_ABSTIME, &value, nullptr) == 0;
#else
    (void)at;
    return false;
#endif
}

void SimServer::Run() {
#ifdef __linux__
    // Wake-ups may come up to 50 µs late by default, a good part of a character time at high
    // baud rates; 1 µs keeps the pacing close to the wire.
    prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
#endif
    for (;;) {
        SimClock::time_point now = SimClock::now();
        DeliverDue(now);
        WriteDue(now);
        if (Finished(now)) {
            return;
        }
        // Sleep until the next due byte, the time limit, or something happens on a descriptor.
        // An answer byte needs its moment on the dot, and so does a received byte that may
        // bring one. Received bytes reach the model stamped with their due times, so those the
        // target takes in silence (most of a frame) are handed over together, late: one
        // wake-up where each would have cost one.
        std::optional<SimClock::time_point> answer;
        std::optional<SimClock::time_point> other;
        auto earliest = [](std::optional<SimClock::time_point>& deadline, SimClock::time_point t) {
            deadline = deadline ? std::min(*deadline, t) : t;
        };
        if (!m_rx.empty()) {
            std::size_t silent = 0;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                silent = m_model.SilentBytesAhead(m_rx.size(),
                                                  [&](std::size_t i) { return m_rx[i].due; });
            }
            // With a latency no answer reaches the host before the adapter's next tick: the
            // bytes due until then are handed over together at it.
            if (silent < m_rx.size()) {
                earliest(answer, NextTick(m_rx[silent].due));
            } else {
                earliest(other, m_rx.back().due);
            }
        }
        if (HangUpHeld(now)) {
            earliest(other, now + kHangUpSettle);
        } else if (!m_tx.empty() && !m_writeBlocked) {
            earliest(answer, m_tx.front().due);
        }
        if (m_options.exitAfterSeconds > 0) {
            earliest(other,
                     m_started + std::chrono::duration_cast<SimClock::duration>(
                                     std::chrono::duration<double>(m_options.exitAfterSeconds)));
        }
        const bool masterQuiet = m_masterQuietUntilSet && now < m_masterQuietUntil;
        if (masterQuiet) {
            earliest(other, m_masterQuietUntil);
        }
        const bool pacing = CharacterTime() != SimClock::duration::zero();
        const std::optional<SimClock::time_point> wake = SimWakeUp(
            now, answer, other,
            pacing ? std::chrono::microseconds(m_options.spinAheadUs) : SimClock::duration::zero());
        const bool look = wake && *wake <= now;
        const bool timed = wake && !look && ArmTimer(*wake);
        pollfd fds[4] = {
            {masterQuiet ? -1 : m_line.masterFd(),
             static_cast<short>(POLLIN | (m_writeBlocked ? POLLOUT : 0)), 0},
            {m_line.watchFd(), POLLIN, 0},
            {m_wake[0], POLLIN, 0},
            {timed ? m_timer : -1, POLLIN, 0},
        };
        // Without the timer (another system) a relative timeout from a fresh reading of the
        // clock; a moment to look only checks the descriptors.
        timespec timeout{};
        if (wake && !timed && !look) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::max(SimClock::duration::zero(), *wake - SimClock::now()))
                                .count();
            timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
            timeout.tv_nsec = static_cast<long>(ns % 1000000000);
        }
        const int ready = ppoll(fds, 4, wake && !timed ? &timeout : nullptr, nullptr);
        if (ready < 0 && errno != EINTR) {
            return;
        }
        now = SimClock::now();
        if (fds[0].revents & POLLOUT) {
            m_writeBlocked = false;
        }
        // Opens and closes first, whenever the master has news too: a close notice is queued
        // before anything the host writes after it, so bytes of a new connection never count
        // for the old one.
        if ((fds[0].revents != 0 || fds[1].revents != 0) && m_line.ReadHostChanges()) {
            HostDisconnected(now);
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            ReadMaster(now);
        }
        if (fds[2].revents & POLLIN) {
            char codes[64];
            const ssize_t got = read(m_wake[0], codes, sizeof codes);
            for (ssize_t i = 0; i < got; ++i) {
                if (codes[i] == 'q') {
                    m_stop = true;
                } else if (codes[i] == 'r' && onReportRequest) {
                    onReportRequest();
                }
            }
        }
    }
}

}  // namespace quillon
