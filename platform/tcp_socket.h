#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace quillon {

// A TCP connection for a serial port on the network: a connect that is bounded in time and
// asks `stop` while it waits, Nagle's delay off (every echoed byte is a round trip), sends
// that give up when the peer stops taking bytes, reads that never block and a wait for bytes
// that blocks in the operating system.
class TcpSocket {
public:
    TcpSocket();
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Connects to `host` (a name, an IPv4 or an IPv6 address) on `port`: looks the host up
    // (LookUpHosts) and tries each of its addresses, the look-up and the connects together
    // within `timeoutMs`, until `stop` says so (asked every 20 ms). Returns an empty text on
    // success, else the reason in a few words ("connection refused", "host not found", "name
    // look-up timed out", "timed out", "aborted", ...).
    [[nodiscard]] std::string Connect(const std::string& host, std::uint16_t port,
                                      std::uint32_t timeoutMs, const std::function<bool()>& stop);
    bool IsOpen() const;
    void Close();

    // Sends all `count` bytes; false once the connection failed or the peer took none for
    // 2 s.
    [[nodiscard]] bool Send(const std::uint8_t* bytes, std::size_t count);
    // Reads up to `count` bytes that have arrived, without blocking; 0 when none have.
    [[nodiscard]] std::size_t Receive(std::uint8_t* dest, std::size_t count);
    // Blocks until bytes have arrived, the connection has ended or `timeoutMs` passed.
    void WaitReadable(std::uint32_t timeoutMs);
    // True once the peer closed the connection or it failed; it stays so.
    bool IsGone() const { return m_gone; }
    // Why it is gone, or why the last Send failed, in a few words ("the server closed the
    // connection", "Connection reset by peer", ...); empty while it works.
    const std::string& LostReason() const { return m_lostReason; }

private:
#ifdef _WIN32
    std::uintptr_t m_socket;
#else
    int m_socket = -1;
#endif
    bool m_gone = false;
    std::string m_lostReason;
};

}  // namespace quillon
