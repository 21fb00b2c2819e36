#include "sim/sim_server.h"

#include <algorithm>
#include <optional>

#include "platform/output_file.h"

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
    if (m_options.uartClockHz > 0) {
        m_uart.emplace(m_options.uartClockHz, m_options.uartPrescale);
    }
}

SimServer::~SimServer() {
    m_link.Remove();
    m_line.Close();
}

Status SimServer::Open() {
    if (Status ready = m_wait.Ready(); !ready) {
        return ready;
    }
    if (Status opened = m_line.Open(); !opened) {
        return opened;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_slavePath = m_line.slavePath();
    }
    if (!m_options.linkPath.empty()) {
        if (Status linked = m_link.Point(m_options.linkPath, m_slavePath); !linked) {
            m_line.Close();
            return linked;
        }
    }
    FollowHostRate();
    // Idle noise waits on the line before anyone learns its path, so that a host opening it
    // at once finds the noise there and drops it instead of taking it for an answer.
    m_started = SimClock::now();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_model.Start(m_started);
        Queue(m_model.TakeEmissions());
    }
    WriteDue(m_started);
    return {};
}

void SimServer::Stop() {
    m_wait.Post('q');
}

void SimServer::RequestReport() {
    m_wait.Post('r');
}

std::string SimServer::slavePath() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_slavePath;
}

std::string SimServer::ReportJson() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    SimLineInfo line{m_slavePath, m_link.path(),
                     m_options.baudFromHost ? static_cast<long>(m_hostRate) : m_options.baud,
                     std::nullopt};
    if (m_uart) {
        line.uart = SimLineInfo::Uart{m_uart->hostRate(), m_uart->rate(), m_uart->divider(),
                                      m_uart->Mismatched()};
    }
    return SimReportJson(m_model, line);
}

int SimServer::sessionsEnded() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_model.sessionsEnded();
}

Status SimServer::WriteDump(const std::string& path) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::vector<std::uint8_t>& bytes = m_model.flash().bytes();
    return WriteOutputFile(
        path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
        "the flash dump");
}

SimClock::duration SimServer::CharacterTime() const {
    const long baud = m_options.baudFromHost ? static_cast<long>(m_hostRate) : m_options.baud;
    if (baud <= 0) {
        return SimClock::duration::zero();
    }
    // Ten bits a character: start bit, eight data bits, stop bit.
    return std::chrono::duration_cast<SimClock::duration>(
        std::chrono::nanoseconds(static_cast<long long>(10.0e9 / static_cast<double>(baud))));
}

void SimServer::FollowHostRate() {
    if (!m_uart && !m_options.baudFromHost) {
        return;
    }
    const Result<std::uint32_t> rate = m_line.HostLineSpeed();
    if (!rate || *rate == m_hostRate) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hostRate = *rate;
    if (m_uart) {
        m_uart->MeasureHost(*rate);
    }
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
            // The host reads the character at its own rate: one it sees no start bit in
            // takes the wire's time all the same.
            const std::optional<std::uint8_t> read = m_uart ? m_uart->Transmit(byte) : byte;
            if (read) {
                m_tx.push_back({NextTick(m_lastTxDue), *read, false});
            }
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
        const Result<std::size_t> written = m_line.Write(bytes.data(), bytes.size());
        m_writeBlocked = written && *written == 0;
        if (written && *written > 0) {
            m_lastWrite = now;
            m_tx.erase(m_tx.begin(), m_tx.begin() + static_cast<std::ptrdiff_t>(*written));
        } else if (!written) {
            // The line cannot take them at all: they are lost with it, as on a broken wire.
            m_tx.erase(m_tx.begin(), m_tx.begin() + static_cast<std::ptrdiff_t>(taken));
        }
        if (!written || *written < taken) {
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
    FollowHostRate();
    const SimClock::duration tau = CharacterTime();
    std::uint8_t buffer[4096];
    for (;;) {
        const Result<std::size_t> got = m_line.Read(buffer, sizeof buffer);
        if (got && *got > 0) {
            for (std::size_t i = 0; i < *got; ++i) {
                // With a latency the host's bytes go out in the adapter's next USB frame.
                const SimClock::time_point sent = NextFrame(now);
                m_lastRxDue = tau == SimClock::duration::zero() && m_options.latencyUs <= 0
                                  ? now
                                  : std::max(m_lastRxDue, sent) + tau;
                // The loader reads the character at its own rate and drops one with a
                // framing error.
                const std::optional<std::uint8_t> read =
                    m_uart ? m_uart->Receive(buffer[i]) : buffer[i];
                if (read) {
                    m_rx.push_back({m_lastRxDue, *read});
                }
            }
            if (*got < sizeof buffer) {
                return;  // the line had no more just now; the next poll reports what comes
            }
            continue;
        }
        if (!got && got.error().kind == ErrorKind::kIo) {
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
    std::string path;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_line.Close();
        if (!m_line.Open()) {
            m_stop = true;
            return;
        }
        m_slavePath = path = m_line.slavePath();
        if (!m_link.path().empty()) {
            const std::string link = m_link.path();
            // A link that cannot follow is removed, lock and all: it would offer a device
            // that is no longer this target's.
            if (!m_link.Point(link, path)) {
                m_link.Remove();
            }
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

std::optional<SimClock::time_point> SimServer::NextWakeUp(SimClock::time_point now,
                                                          bool lineQuiet) {
    // An answer byte needs its moment on the dot, and so does a received byte that may bring
    // one. Received bytes reach the model stamped with their due times, so those the target
    // takes in silence (most of a frame) are handed over together, late: one wake-up where
    // each would have cost one.
    std::optional<SimClock::time_point> answer;
    std::optional<SimClock::time_point> other;
    auto earliest = [](std::optional<SimClock::time_point>& deadline, SimClock::time_point t) {
        deadline = deadline ? std::min(*deadline, t) : t;
    };
    if (!m_rx.empty()) {
        std::size_t silent = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            silent =
                m_model.SilentBytesAhead(m_rx.size(), [&](std::size_t i) { return m_rx[i].due; });
        }
        // With a latency no answer reaches the host before the adapter's next tick: the bytes
        // due until then are handed over together at it.
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
        earliest(other, m_started + std::chrono::duration_cast<SimClock::duration>(
                                        std::chrono::duration<double>(m_options.exitAfterSeconds)));
    }
    if (lineQuiet) {
        earliest(other, m_masterQuietUntil);
    }
    const bool pacing = CharacterTime() != SimClock::duration::zero();
    return SimWakeUp(
        now, answer, other,
        pacing ? std::chrono::microseconds(m_options.spinAheadUs) : SimClock::duration::zero());
}

void SimServer::TakeNews(const LineWait::News& news) {
    const SimClock::time_point now = SimClock::now();
    if (news.lineWritable) {
        m_writeBlocked = false;
    }
    // Opens and closes first, whenever the master has news too: a close notice is queued
    // before anything the host writes after it, so bytes of a new connection never count for
    // the old one.
    if ((news.line || news.hostChange) && m_line.ReadHostChanges()) {
        HostDisconnected(now);
    }
    if (news.lineReadable) {
        ReadMaster(now);
    }
    for (const char code : news.codes) {
        if (code == 'q') {
            m_stop = true;
        } else if (code == 'r' && onReportRequest) {
            onReportRequest();
        }
    }
}

void SimServer::Run() {
    LineWait::WakeUpPromptly();
    for (;;) {
        const SimClock::time_point now = SimClock::now();
        DeliverDue(now);
        WriteDue(now);
        if (Finished(now)) {
            return;
        }
        // Sleep until the next due byte, the time limit, or something happens on the line.
        const bool lineQuiet = m_masterQuietUntilSet && now < m_masterQuietUntil;
        const Result<LineWait::News> news =
            m_wait.Wait(m_line, lineQuiet, m_writeBlocked, NextWakeUp(now, lineQuiet));
        if (!news) {
            return;
        }
        TakeNews(*news);
    }
}

}  // namespace quillon
