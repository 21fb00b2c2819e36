#include "link/network_channel.h"

#include <algorithm>
#include <memory>

namespace quillon {

namespace {

constexpr std::size_t kReceiveChunk = 4096;
// At most this many chunks a pump: a server that never stops sending (commands, noise) must not
// keep a wait from its deadline.
constexpr int kChunksPerPump = 16;

constexpr std::uint64_t kStopPollMs = 20;

// A limit in milliseconds as seconds: "2 s", "0.5 s" (whatever the locale's decimal point).
std::string SecondsText(std::uint32_t ms) {
    std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
    while (!fraction.empty() && fraction.back() == '0') {
        fraction.pop_back();
    }
    return std::to_string(ms / 1000) + (fraction.empty() ? "" : "." + fraction) + " s";
}

// What the server set where it differs from what was asked ("set 9600 baud, asked 115200"),
// each difference in turn; empty when it set everything as asked. The values are those of the
// COM port option: parity 1 none, 2 odd, 3 even, 4 mark, 5 space; stop size 1, 2, 3 = 1.5.
std::string OtherLineSettings(const TelnetCodec& codec, std::uint32_t baud) {
    static const char* const kParities[] = {"none", "odd", "even", "mark", "space"};
    const auto parity = [](std::uint8_t value) {
        return value >= 1 && value <= 5 ? std::string(kParities[value - 1]) + " parity"
                                        : "parity " + std::to_string(value);
    };
    const auto stopBits = [](std::uint8_t value) {
        return (value == 3 ? std::string("1.5") : std::to_string(value)) +
               (value == 1 ? " stop bit" : " stop bits");
    };
    std::string other;
    const auto add = [&other](const std::string& set, const std::string& asked) {
        other += (other.empty() ? "set " : "; set ") + set + ", asked " + asked;
    };
    if (*codec.ConfirmedBaud() != baud) {
        add(std::to_string(*codec.ConfirmedBaud()) + " baud", std::to_string(baud));
    }
    if (*codec.ConfirmedDataSize() != 8) {
        add(std::to_string(*codec.ConfirmedDataSize()) + " data bits", "8");
    }
    if (*codec.ConfirmedParity() != 1) {
        add(parity(*codec.ConfirmedParity()), "none");
    }
    if (*codec.ConfirmedStopSize() != 1) {
        add(stopBits(*codec.ConfirmedStopSize()), "1");
    }
    return other;
}

}  // namespace

Status NetworkChannel::Write(const std::uint8_t* bytes, std::size_t count) {
    if (!m_telnet) {
        return m_socket->Send(bytes, count);
    }
    TelnetCodec::Bytes encoded;
    encoded.reserve(count + count / 8 + 1);
    TelnetCodec::Encode(bytes, count, encoded);
    return m_socket->Send(encoded.data(), encoded.size());
}

Status NetworkChannel::SendCommands(const TelnetCodec::Bytes& commands) {
    return m_socket->Send(commands.data(), commands.size());
}

void NetworkChannel::Pump() {
    std::uint8_t chunk[kReceiveChunk];
    for (int pass = 0; pass < kChunksPerPump; ++pass) {
        const std::size_t got = m_socket->Receive(chunk, sizeof chunk);
        if (got == 0) {
            return;
        }
        if (!m_telnet) {
            m_data.insert(m_data.end(), chunk, chunk + got);
            continue;
        }
        TelnetCodec::Bytes replies;
        m_codec.Decode(chunk, got, m_data, replies);
        if (!replies.empty() && !SendCommands(replies)) {
            return;  // gone: IsGone says so, and the next write says why
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

bool NetworkChannel::PumpUntil(const std::function<bool()>& done, std::uint32_t timeoutMs,
                               const std::function<bool()>& stop) {
    const std::uint64_t deadline = m_clock.NowMs() + timeoutMs;
    for (;;) {
        Pump();
        if (done()) {
            return true;
        }
        const std::uint64_t now = m_clock.NowMs();
        if (m_socket->IsGone() || now >= deadline || (stop && stop())) {
            return false;
        }
        // With a stop request to heed, the wait is cut into slices.
        const std::uint64_t left = deadline - now;
        m_socket->WaitReadable(
            static_cast<std::uint32_t>(stop ? std::min<std::uint64_t>(left, kStopPollMs) : left));
    }
}

void NetworkChannel::WaitForInput(std::size_t count, std::uint32_t timeoutMs) {
    // Whether enough came is for the caller to count; the wait only ends on it.
    if (!PumpUntil([this, count] { return m_data.size() >= count; }, timeoutMs)) {
        return;
    }
}

void NetworkChannel::DiscardInput() {
    Pump();
    m_data.clear();
    // As for a reply: a purge that cannot go out leaves the socket gone, which IsGone and the
    // next write report; nothing is left for it to do here.
    if (m_telnet && !SendCommands(m_codec.PurgeReceived())) {
        return;
    }
}

Status NetworkChannel::Broken(const std::function<bool()>& stop) const {
    if (stop && stop()) {
        return Fail(ErrorKind::kAborted, "aborted");
    }
    if (m_socket->IsGone()) {
        return Fail(ErrorKind::kIo, "connection lost");
    }
    if (m_codec.BinaryRefused()) {
        return Fail(ErrorKind::kRefused, "the server refused binary mode");
    }
    return {};
}

Status NetworkChannel::SetLine(BaudRate baud, const NetworkPortTimeouts& limits,
                               const std::function<bool()>& stop) {
    if (!m_telnet) {
        return {};
    }
    if (!SendCommands(m_codec.Start())) {
        return Fail(ErrorKind::kIo, "connection lost");
    }
    // A server that never answers the COM port option is no RFC 2217 server (a raw port, say).
    // It answers the binary requests first, as they were sent first.
    const bool answered = PumpUntil([this] { return m_codec.ComPortAccepted().has_value(); },
                                    limits.negotiateMs, stop);
    if (Status broken = Broken(stop); !broken) {
        return broken;
    }
    if (!answered || m_codec.ComPortAccepted() != true) {
        return Fail(ErrorKind::kUnsupported, "the server does not speak RFC 2217");
    }
    if (!SendCommands(m_codec.SetLine({baud.bitsPerSecond}))) {
        return Fail(ErrorKind::kIo, "connection lost");
    }
    // The baud rate and the framing must be confirmed; DTR, RTS and flow control are asked
    // for only (a server on a device without modem lines never confirms them).
    const auto confirmed = [this] {
        return m_codec.ConfirmedBaud() && m_codec.ConfirmedDataSize() &&
               m_codec.ConfirmedParity() && m_codec.ConfirmedStopSize();
    };
    const bool settled = PumpUntil(confirmed, limits.lineSettingsMs, stop);
    if (Status broken = Broken(stop); !broken) {
        return broken;
    }
    if (!settled) {
        return Fail(ErrorKind::kTimeout, "the server did not confirm the line settings within " +
                                             SecondsText(limits.lineSettingsMs));
    }
    if (std::string other = OtherLineSettings(m_codec, baud.bitsPerSecond); !other.empty()) {
        return Fail(ErrorKind::kRefused, "the server " + other);
    }
    m_data.clear();  // nothing the device sent before its line was set counts
    return {};
}

OpenedChannel OpenNetworkChannel(const PortAddress& address, const LineSettings& line,
                                 const std::function<bool()>& stop,
                                 const NetworkPortTimeouts& limits, SystemEnv& env) {
    OpenedChannel opened;
    Result<std::unique_ptr<TcpSocket>> socket =
        env.ConnectTcp(address.host, address.port, limits.connectMs, stop);
    if (!socket) {
        opened.reason = std::move(socket).error().text;
        return opened;
    }
    auto channel = std::make_unique<NetworkChannel>(address.kind == PortAddress::Kind::kRfc2217,
                                                    std::move(*socket), env.clock());
    if (Status set = channel->SetLine(line.baud, limits, stop); !set) {
        opened.reason = std::move(set).error().text;
        return opened;
    }
    opened.status = OpenedChannel::Status::kOpened;
    opened.channel = std::move(channel);
    if (address.kind == PortAddress::Kind::kRawTcp) {
        opened.notice = "The line settings are the server's (raw TCP port): " +
                        std::string(BaudRateText(line.baud)) + " baud is not set there.";
    }
    return opened;
}

}  // namespace quillon
