#include "platform/tcp_socket.h"

namespace quillon {

// What both backends share: the look-up, then one address after the other within the one
// limit.

Status TcpSocket::Connect(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs,
                          const std::function<bool()>& stop) {
    Close();
    // The look-up (which starts the system's network layer) and the connects share the one
    // limit.
    const std::uint64_t deadline = m_clock.NowMs() + timeoutMs;
    Result<std::vector<IpAddress>> found = LookUpHosts({host}, timeoutMs, stop, m_clock).front();
    if (!found) {
        return Fail(std::move(found).error());
    }
    Status connected = Fail(ErrorKind::kTimeout, "timed out");
    for (const IpAddress& ip : *found) {
        connected = ConnectOne(ip, port, deadline, stop);
        if (connected || connected.error().kind == ErrorKind::kAborted ||
            connected.error().kind == ErrorKind::kTimeout) {
            break;  // connected, stopped, or the time is spent
        }
    }
    return connected;
}

void TcpSocket::MarkLost(Error why) {
    if (!m_lost) {
        m_lost = std::move(why);
    }
}

}  // namespace quillon
