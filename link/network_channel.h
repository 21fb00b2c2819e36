#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "link/byte_channel.h"
#include "link/line_settings.h"
#include "link/telnet_codec.h"
#include "platform/clock.h"
#include "platform/system_env.h"
#include "platform/tcp_socket.h"
#include "ports/port_address.h"

namespace quillon {

// How long opening a network port may take: the connection, then (RFC 2217) the server's
// answer to the COM port option and its confirmation of the line settings.
struct NetworkPortTimeouts {
    std::uint32_t connectMs = 5000;
    std::uint32_t negotiateMs = 2000;
    std::uint32_t lineSettingsMs = 2000;
};

// A ByteChannel over a serial port on the network: raw TCP, or Telnet with the COM port option
// (RFC 2217), whose commands never reach the job. A connection that ends is a line that has
// gone, as an unplugged adapter is.
class NetworkChannel : public ByteChannel {
public:
    // The channel over the connection `socket`, Telnet or raw; its waits are timed by `clock`
    // (which must outlive it).
    NetworkChannel(bool telnet, std::unique_ptr<TcpSocket> socket, Clock& clock)
        : m_telnet(telnet), m_clock(clock), m_socket(std::move(socket)) {}

    [[nodiscard]] Status Write(const std::uint8_t* bytes, std::size_t count) override;
    std::size_t Queued() override;
    std::size_t Buffered() override { return m_data.size(); }
    [[nodiscard]] std::size_t Read(std::uint8_t* dest, std::size_t count) override;
    void WaitForInput(std::size_t count, std::uint32_t timeoutMs) override;
    bool IsGone() const override { return m_socket->IsGone(); }
    // Drops what has arrived and, over RFC 2217, asks the server to drop what it holds.
    void DiscardInput() override;

    // Over RFC 2217, sets the line to `baud`, 8N1, no flow control, DTR and RTS on (a raw port
    // has nothing to set). The error says why the port cannot be used ("the server did not confirm
    // the line settings within 2 s", "the server set 9600 baud, asked 115200", "the server
    // refused binary mode", ...). `stop` ends every wait of it at once ("aborted").
    [[nodiscard]] Status SetLine(BaudRate baud, const NetworkPortTimeouts& limits,
                                 const std::function<bool()>& stop);

private:
    // Takes what has arrived from the socket (a bounded amount), without blocking; answers
    // the server's option requests. A reply that cannot go out leaves the socket gone: the
    // job's next write or wait ends on that, with the socket's reason.
    void Pump();
    // Sends the Telnet commands `commands`; an error when the connection is lost.
    [[nodiscard]] Status SendCommands(const TelnetCodec::Bytes& commands);
    // Why the opening cannot go on now, if it cannot: an abort, a lost connection, binary mode
    // refused.
    [[nodiscard]] Status Broken(const std::function<bool()>& stop) const;
    // Pumps until `done` holds, the connection has gone, `timeoutMs` passed or `stop` says so
    // (asked every 20 ms).
    [[nodiscard]] bool PumpUntil(const std::function<bool()>& done, std::uint32_t timeoutMs,
                                 const std::function<bool()>& stop = {});

    bool m_telnet;
    Clock& m_clock;
    std::unique_ptr<TcpSocket> m_socket;
    TelnetCodec m_codec;
    std::deque<std::uint8_t> m_data;  // received data bytes not yet read
};

// Opens the network port `address` for a job's line (`line.baud`): a channel, or kCannotOpen
// with the reason. `stop` ends the opening wherever it waits (the look-up, the connect, the
// server's answers); the connection comes from `env`, and every wait is timed by its clock
// (`env` must outlive the channel).
[[nodiscard]] OpenedChannel OpenNetworkChannel(const PortAddress& address, const LineSettings& line,
                                               const std::function<bool()>& stop,
                                               const NetworkPortTimeouts& limits = {},
                                               SystemEnv& env = SystemEnv::Default());

}  // namespace quillon
