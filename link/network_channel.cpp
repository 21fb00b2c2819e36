#include "link/network_channel.h"

#include <algorithm>
#include <memory>

#include "link/clock.h"

namespace quillon {

namespace {

constexpr std::size_t kReceiveChunk = 4096;
// At most this many chunks a pump: a server that never stops sending (commands, noise) must not
// keep a wait from its deadline.
constexpr int kChunksPerPump = 16;

std::uint64_t NowMs() {
    return SteadyClock().NowMs();
}

}  // namespace

bool NetworkChannel::Write(const std::uint8_t* bytes, std::size_t count) {
    if (!m_telnet) {
        return m_socket.Send(bytes, count);
    }
    TelnetCodec::Bytes encoded;
    encoded.reserve(count + count / 8 + 1);
    TelnetCodec::Encode(bytes, count, encoded);
    return m_socket.Send(encoded.data(), encoded.size());
}

void NetworkChannel::Pump() {
    std::uint8_t chunk[kReceiveChunk];
    for (int pass = 0; pass < kChunksPerPump; ++pass) {
        const std::size_t got = m_socket.Receive(chunk, sizeof chunk);
        if (got == 0) {
            return;
        }
        if (!m_telnet) {
            m_data.insert(m_data.end(), chunk, chunk + got);
            continue;
        }
        TelnetCodec::Bytes replies;
        m_codec.Decode(chunk, got, m_data, replies);
        if (!replies.empty()) {
            m_socket.Send(replies.data(), replies.size());
        }
    }
}

std::size_t NetworkChannel::Queued() {
    Pump();
    return m_data.size();
}

std::size_t NetworkChannel::Read(std::uint8_t* dest, std::size_t count) {
    if (m_data.empty()) {
        Pump();
    }
    const std::size_t n = std::min(count, m_data.size());
    std::copy_n(m_data.begin(), n, dest);
    m_data.erase(m_data.begin(), m_data.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

bool NetworkChannel::PumpUntil(const std::function<bool()>& done, std::uint32_t timeoutMs) {
    const std::uint64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        Pump();
        if (done()) {
            return true;
        }
        const std::uint64_t now = NowMs();
        if (m_socket.IsGone() || now >= deadline) {
            return false;
        }
        m_socket.WaitReadable(static_cast<std::uint32_t>(deadline - now));
    }
}

void NetworkChannel::WaitForInput(std::size_t count, std::uint32_t timeoutMs) {
    PumpUntil([this, count] { return m_data.size() >= count; }, timeoutMs);
}

void NetworkChannel::DiscardInput() {
    Pump();
    m_data.clear();
    if (m_telnet) {
        const TelnetCodec::Bytes purge = m_codec.PurgeReceived();
        m_socket.Send(purge.data(), purge.size());
    }
}

std::string NetworkChannel::Open(const PortAddress& address, BaudRate baud,
                                 const NetworkPortTimeouts& limits,
                                 const std::function<bool()>& stop) {
    if (std::string failed = m_socket.Connect(address.host, address.port, limits.connectMs, stop);
        !failed.empty()) {
        return failed;
    }
    if (!m_telnet) {
        return {};
    }
    const TelnetCodec::Bytes start = m_codec.Start();
    if (!m_socket.Send(start.data(), start.size())) {
        return "connection lost";
    }
    // A server that never answers the COM port option is no RFC 2217 server (a raw port, say).
    PumpUntil([this] { return m_codec.ComPortAccepted().has_value(); }, limits.negotiateMs);
    if (m_socket.IsGone()) {
        return "connection lost";
    }
    if (m_codec.ComPortAccepted() != true) {
        return "the server does not speak RFC 2217";
    }
    const TelnetCodec::Bytes line = m_codec.SetLine({baud.bitsPerSecond});
    if (!m_socket.Send(line.data(), line.size())) {
        return "connection lost";
    }
    // The baud rate and the framing must be confirmed; DTR, RTS and flow control are asked
    // for only (a server on a device without modem lines never confirms them).
    const auto confirmed = [this] {
        return m_codec.ConfirmedBaud() && m_codec.ConfirmedDataSize() &&
               m_codec.ConfirmedParity() && m_codec.ConfirmedStopSize();
    };
    PumpUntil(confirmed, limits.lineSettingsMs);
    if (m_socket.IsGone()) {
        return "connection lost";
    }
    if (!confirmed() || *m_codec.ConfirmedBaud() != baud.bitsPerSecond ||
        *m_codec.ConfirmedDataSize() != 8 || *m_codec.ConfirmedParity() != 1 ||
        *m_codec.ConfirmedStopSize() != 1) {
        return "the server refused the line settings";
    }
    m_data.clear();  // nothing the device sent before its line was set counts
    return {};
}

OpenedChannel OpenNetworkChannel(const PortAddress& address, const LineSettings& line,
                                 const std::function<bool()>& stop,
                                 const NetworkPortTimeouts& limits) {
    OpenedChannel opened;
    auto channel = std::make_unique<NetworkChannel>(address.kind == PortAddress::Kind::kRfc2217);
    opened.reason = channel->Open(address, line.baud, limits, stop);
    if (opened.reason.empty()) {
        opened.status = OpenedChannel::Status::kOpened;
        opened.channel = std::move(channel);
        if (address.kind == PortAddress::Kind::kRawTcp) {
            opened.notice = "The line settings are the server's (raw TCP port): " +
                            std::string(BaudRateText(line.baud)) + " baud is not set there.";
        }
    }
    return opened;
}

}  // namespace quillon
