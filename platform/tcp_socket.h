#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "helpers/result.h"
#include "platform/clock.h"
#include "platform/host_lookup.h"

namespace quillon {

// A TCP connection for a serial port on the network: a connect that is bounded in time and
// asks `stop` while it waits, Nagle's delay off (every echoed byte is a round trip), sends
// that give up when the peer stops taking bytes, reads that never block and a wait for bytes
// that blocks in the operating system.
class TcpSocket {
public:
    // A socket whose waits are timed by the system's monotonic clock.
    TcpSocket();
    // A socket whose waits are timed by `clock` (which must outlive it).
    explicit TcpSocket(Clock& clock);
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Connects to `host` (a name, an IPv4 or an IPv6 address) on `port`: looks the host up
    // (LookUpHosts) and tries each of its addresses, the look-up and the connects together
    // within `timeoutMs`, until `stop` says so (asked every 20 ms). The error says why not in a
    // few words ("connection refused", "host not found", "name look-up timed out", "timed
    // out", "aborted", ...).
    [[nodiscard]] Status Connect(const std::string& host, std::uint16_t port,
                                 std::uint32_t timeoutMs, const std::function<bool()>& stop);
    bool IsOpen() const;
    void Close();

    // Sends all `count` bytes. Once the connection failed or the peer took none for 2 s it is
    // gone, and this and every later send fail with the reason ("the server closed the
    // connection", "Connection reset by peer", "the server took no byte for 2 s", ...).
    [[nodiscard]] Status Send(const std::uint8_t* bytes, std::size_t count);
    // Reads up to `count` bytes that have arrived, without blocking; 0 when none have.
    [[nodiscard]] std::size_t Receive(std::uint8_t* dest, std::size_t count);
    // Blocks until bytes have arrived, the connection has ended or `timeoutMs` passed.
    void WaitReadable(std::uint32_t timeoutMs);
    // True once the peer closed the connection or it failed; it stays so.
    bool IsGone() const { return m_lost.has_value(); }

private:
    // The system's socket.
    struct Impl;

    // Connects to one address of the host until `deadlineMs`, the one the look-up and every
    // address share.
    [[nodiscard]] Status ConnectOne(const IpAddress& ip, std::uint16_t port,
                                    std::uint64_t deadlineMs, const std::function<bool()>& stop);
    // Marks the connection gone for `why`; the first reason stays.
    void MarkLost(Error why);

    Clock& m_clock;
    std::unique_ptr<Impl> m_impl;
    std::optional<Error> m_lost;  // why the connection is gone, once it is
};

}  // namespace quillon
