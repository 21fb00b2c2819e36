#include "tests/support/virtual_line.h"

#include <cmath>
#include <iterator>

namespace quillon {

// The host's opening of a VirtualLine. It reads what arrived while it is held; once the far end
// hung up it is gone, with what had arrived before still there to read.
class VirtualLine::Channel : public ByteChannel {
public:
    explicit Channel(VirtualLine& line) : m_line(&line) {}
    ~Channel() override {
        if (m_line != nullptr) {
            m_line->Close(*this);
        }
    }

    Status Write(const std::uint8_t* bytes, std::size_t count) override {
        if (m_line == nullptr) {
            return Fail(ErrorKind::kIo, "hung up");
        }
        VirtualLine& line = *m_line;
        line.TakeDue();
        if (m_line == nullptr) {
            return Fail(ErrorKind::kIo, "hung up");  // by now
        }
        if (line.m_failWrites && line.m_writes.size() >= line.m_failWrites->first) {
            return Fail(ErrorKind::kIo, line.m_failWrites->second);
        }
        Bytes written(bytes, bytes + count);
        const std::uint64_t now = line.m_clock.NowMs();
        line.m_writes.push_back({now, written});
        if (line.m_byteUs == 0) {
            line.Receive(written, now);
        } else {
            // Each byte reaches the far end once the bytes before it and itself have crossed.
            for (const std::uint8_t byte : written) {
                line.m_outFreeUs = std::max(line.m_outFreeUs, now * 1000.0) + line.m_byteUs;
                line.Receive({byte},
                             static_cast<std::uint64_t>(std::ceil(line.m_outFreeUs / 1000)));
            }
        }
        if (line.afterWrite) {
            line.afterWrite();
        }
        return {};
    }
    std::size_t Queued() override {
        if (m_line != nullptr) {
            m_line->TakeDue();
        }
        return m_input.size();
    }
    std::size_t Read(std::uint8_t* dest, std::size_t count) override {
        const std::size_t n = std::min(count, Queued());
        std::copy_n(m_input.begin(), n, dest);
        m_input.erase(m_input.begin(), m_input.begin() + static_cast<std::ptrdiff_t>(n));
        return n;
    }
    void WaitForInput(std::size_t count, std::uint32_t timeoutMs) override {
        if (m_line != nullptr) {
            m_line->Wait(count, timeoutMs);
        }
    }
    bool IsGone() const override { return m_line == nullptr; }

    std::deque<std::uint8_t>& input() { return m_input; }
    void Detach() { m_line = nullptr; }

private:
    VirtualLine* m_line;
    std::deque<std::uint8_t> m_input;
};

VirtualLine::~VirtualLine() {
    if (m_channel != nullptr) {
        m_channel->Detach();
    }
}

OpenedChannel VirtualLine::Open() {
    OpenedChannel opened;
    if (m_channel != nullptr) {
        return opened;
    }
    auto channel = std::make_unique<Channel>(*this);
    m_channel = channel.get();
    ++m_openings;
    TakeDue();
    channel->input().insert(channel->input().end(), m_idle.begin(), m_idle.end());
    m_idle.clear();
    opened.status = OpenedChannel::Status::kOpened;
    opened.channel = std::move(channel);
    return opened;
}

Bytes VirtualLine::Written() const {
    Bytes all;
    for (const Write& write : m_writes) {
        all.insert(all.end(), write.bytes.begin(), write.bytes.end());
    }
    return all;
}

void VirtualLine::Send(std::uint64_t atMs, Bytes bytes) {
    if (m_byteUs == 0) {
        m_pending.emplace(atMs, Arrival{std::move(bytes), false});
        return;
    }
    for (const std::uint8_t byte : bytes) {
        m_inFreeUs = std::max(m_inFreeUs, atMs * 1000.0) + m_byteUs;
        m_pending.emplace(static_cast<std::uint64_t>(std::ceil(m_inFreeUs / 1000)),
                          Arrival{{byte}, false});
    }
}

void VirtualLine::HangUpAt(std::uint64_t atMs) {
    m_pending.emplace(atMs, Arrival{{}, true});
}

void VirtualLine::TakeDue() {
    const std::uint64_t now = m_clock.NowMs();
    while (!m_pending.empty() && m_pending.begin()->first <= now) {
        const std::uint64_t at = m_pending.begin()->first;
        Arrival arrival = std::move(m_pending.begin()->second);
        m_pending.erase(m_pending.begin());
        if (arrival.hangup) {
            if (m_channel != nullptr) {
                m_channel->Detach();
                m_channel = nullptr;
            }
            m_idle.clear();
            HungUp(at);
            continue;
        }
        std::deque<std::uint8_t>& input = m_channel != nullptr ? m_channel->input() : m_idle;
        input.insert(input.end(), arrival.bytes.begin(), arrival.bytes.end());
    }
}

void VirtualLine::Wait(std::size_t count, std::uint32_t timeoutMs) {
    const std::uint64_t deadline = m_clock.NowMs() + timeoutMs;
    for (;;) {
        TakeDue();
        if (m_channel == nullptr || m_channel->input().size() >= count) {
            return;
        }
        if (m_pending.empty() || m_pending.begin()->first > deadline) {
            m_clock.SleepUntilMs(deadline);
            return;
        }
        m_clock.SleepUntilMs(m_pending.begin()->first);
    }
}

void VirtualLine::Close(Channel& channel) {
    if (m_channel != &channel) {
        return;
    }
    TakeDue();
    if (m_channel != &channel) {
        return;  // it hung up just now
    }
    m_channel = nullptr;
    m_pending.clear();
    m_failWrites.reset();
    Closed(m_clock.NowMs());
}

}  // namespace quillon
