#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/byte_channel.h"
#include "link/line_settings.h"
#include "platform/clock.h"

namespace quillon {

using Bytes = std::vector<std::uint8_t>;

// Time for the jobs in tests: it stands still until a wait moves it, so a 10 s time-out
// passes at once and every run of a test sees the same times.
class VirtualClock : public Clock {
public:
    std::uint64_t NowMs() override { return m_nowMs; }
    void SleepUntilMs(std::uint64_t ms) override { m_nowMs = std::max(m_nowMs, ms); }

private:
    std::uint64_t m_nowMs = 0;
};

// A line in memory between the host and a far end (a script, the virtual target), on a
// VirtualClock. What the far end sends arrives at its due time; a wait for input moves the
// clock to the next arrival, or to the wait's deadline when none comes before it. The host
// opens the line as a ByteChannel, one opening at a time, as a serial port is opened; the
// far end and what it sent outlive each opening. What waits unread when the host closes the
// line is lost with it.
class VirtualLine {
public:
    // One write of the host, and when it happened.
    struct Write {
        std::uint64_t atMs = 0;
        Bytes bytes;
    };

    explicit VirtualLine(VirtualClock& clock) : m_clock(clock) {}
    virtual ~VirtualLine();
    VirtualLine(const VirtualLine&) = delete;
    VirtualLine& operator=(const VirtualLine&) = delete;

    // Opens the line: kCannotOpen while an earlier opening is still held.
    OpenedChannel Open();
    // Open() for the jobs' ChannelOpener.
    std::function<OpenedChannel(const LineSettings&)> Opener() {
        return [this](const LineSettings&) { return Open(); };
    }

    VirtualClock& clock() { return m_clock; }
    // Every write of the host, in order, and all their bytes.
    const std::vector<Write>& writes() const { return m_writes; }
    Bytes Written() const;
    // How often the host opened the line, and whether an opening is held now.
    int openings() const { return m_openings; }
    bool held() const { return m_channel != nullptr; }

    // Called after each write of the host (a test's way to act at a point of the exchange).
    std::function<void()> afterWrite;

    // From the host's write number `write` (counted from the line's first) on, every write
    // fails with `reason` and reaches nobody, as on a line whose adapter was pulled, until the
    // host closes its opening.
    void FailWritesFrom(std::size_t write, std::string reason) {
        m_failWrites.emplace(write, std::move(reason));
    }
    // Paces the line at `baud`, 10 bits a byte, both ways: a byte arrives once the bytes
    // before it on its way and itself have crossed the wire.
    void PaceAt(std::uint32_t baud) { m_byteUs = 1.0e7 / baud; }

protected:
    // The far end's side: the host wrote `bytes` at `nowMs`, or closed its opening.
    virtual void Receive(const Bytes& bytes, std::uint64_t nowMs) = 0;
    virtual void Closed(std::uint64_t /*nowMs*/) {}
    // The far end hung up at `atMs` (see HangUpAt).
    virtual void HungUp(std::uint64_t /*atMs*/) {}

    // Sends `bytes` to the host, to arrive at `atMs` (after what was sent before for the same
    // time or earlier).
    void Send(std::uint64_t atMs, Bytes bytes);
    // Closes the line from the far end at `atMs`: the host's opening is gone then (what had
    // arrived before can still be read) and the next opening is a new line.
    void HangUpAt(std::uint64_t atMs);

private:
    class Channel;
    struct Arrival {
        Bytes bytes;
        bool hangup = false;
    };

    // Delivers what is due by now.
    void TakeDue();
    void Wait(std::size_t count, std::uint32_t timeoutMs);
    void Close(Channel& channel);

    VirtualClock& m_clock;
    std::multimap<std::uint64_t, Arrival> m_pending;  // by due time, in the order sent
    std::deque<std::uint8_t> m_idle;                  // arrived while no opening was held
    Channel* m_channel = nullptr;                     // the opening held now
    std::vector<Write> m_writes;
    int m_openings = 0;
    std::optional<std::pair<std::size_t, std::string>> m_failWrites;
    double m_byteUs = 0;     // a byte's wire time; 0: not paced
    double m_outFreeUs = 0;  // when the host's bytes have all crossed
    double m_inFreeUs = 0;   // when the far end's bytes have all crossed
};

// A far end played by the test: `respond` answers each write of the host with parts, each
// sent `afterMs` after the write. Say() puts bytes on the line without a write (what waits on
// it before a job, an answer at a given time).
class ScriptedLine : public VirtualLine {
public:
    struct Part {
        std::uint32_t afterMs = 0;
        Bytes bytes;
    };
    using Responder = std::function<std::vector<Part>(const Bytes& written)>;

    explicit ScriptedLine(VirtualClock& clock, Responder respond = {})
        : VirtualLine(clock), m_respond(std::move(respond)) {}

    void Say(Part part) { Send(clock().NowMs() + part.afterMs, std::move(part.bytes)); }

protected:
    void Receive(const Bytes& bytes, std::uint64_t nowMs) override {
        if (m_respond) {
            for (Part& part : m_respond(bytes)) {
                Send(nowMs + part.afterMs, std::move(part.bytes));
            }
        }
    }

private:
    Responder m_respond;
};

}  // namespace quillon
