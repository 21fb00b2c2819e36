#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/host_lookup.h"
#include "platform/tcp_socket.h"

namespace quillon {

namespace {

constexpr int kStopPollMs = 20;
constexpr int kSendStallMs = 2000;
constexpr const char* kSendStallText = "the server took no byte for 2 s";
constexpr const char* kClosedText = "the server closed the connection";

std::string ErrorText(int error) {
    switch (error) {
        case ECONNREFUSED:
            return "connection refused";
        case ETIMEDOUT:
            return "timed out";
        case ENETUNREACH:
        case EHOSTUNREACH:
            return "host unreachable";
        default:
            return std::strerror(error);
    }
}

// `ip` on `port` as the system's socket address; returns its size.
socklen_t ToSocketAddress(const IpAddress& ip, std::uint16_t port, sockaddr_storage& address) {
    if (!ip.v6) {
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        std::memcpy(&v4.sin_addr, ip.bytes.data(), 4);
        return sizeof v4;
    }
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    std::memcpy(&v6.sin6_addr, ip.bytes.data(), 16);
    v6.sin6_scope_id = ip.scope;
    return sizeof v6;
}

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

TcpSocket::TcpSocket() = default;

TcpSocket::~TcpSocket() {
    Close();
}

bool TcpSocket::IsOpen() const {
    return m_socket >= 0;
}

void TcpSocket::Close() {
    if (m_socket >= 0) {
        ::close(m_socket);
        m_socket = -1;
    }
    m_gone = false;
    m_lostReason.clear();
}

std::string TcpSocket::Connect(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs,
                               const std::function<bool()>& stop) {
    Close();
    // The look-up and the connect share the one limit.
    const std::int64_t deadline = NowMs() + timeoutMs;
    const HostLookup found = LookUpHosts({host}, timeoutMs, stop).front();
    if (!found.ok()) {
        return found.reason;
    }
    std::string reason = "timed out";
    for (const IpAddress& ip : found.addresses) {
        sockaddr_storage address{};
        const socklen_t size = ToSocketAddress(ip, port, address);
        const int fd =
            ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
        if (fd < 0) {
            reason = ErrorText(errno);
            continue;
        }
        int error = 0;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
            error = errno;
        }
        // The connection comes within the time left, or the stop request ends the wait.
        while (error == EINPROGRESS) {
            if (stop && stop()) {
                ::close(fd);
                return "aborted";
            }
            const std::int64_t left = deadline - NowMs();
            if (left <= 0) {
                error = ETIMEDOUT;
                break;
            }
            pollfd waiting{fd, POLLOUT, 0};
            const int ready =
                ::poll(&waiting, 1, static_cast<int>(std::min<std::int64_t>(left, kStopPollMs)));
            if (ready > 0) {
                socklen_t errorSize = sizeof error;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorSize) != 0) {
                    error = errno;
                }
            } else if (ready < 0 && errno != EINTR) {
                error = errno;
            }
        }
        if (error == 0) {
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            m_socket = fd;
            return {};
        }
        ::close(fd);
        reason = ErrorText(error);
        if (error == ETIMEDOUT) {
            break;  // the time is spent
        }
    }
    return reason;
}

bool TcpSocket::Send(const std::uint8_t* bytes, std::size_t count) {
    std::size_t sent = 0;
    while (sent < count) {
        if (m_socket < 0 || m_gone) {
            if (m_lostReason.empty()) {
                m_lostReason = "not connected";
            }
            return false;
        }
        const ssize_t n = ::send(m_socket, bytes + sent, count - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd waiting{m_socket, POLLOUT, 0};
            if (::poll(&waiting, 1, kSendStallMs) > 0 && (waiting.revents & POLLOUT) != 0) {
                continue;
            }
            m_lostReason = kSendStallText;
        } else {
            m_lostReason = n < 0 ? ErrorText(errno) : kSendStallText;
        }
        m_gone = true;  // failed, or the peer took nothing for too long
        return false;
    }
    return true;
}

std::size_t TcpSocket::Receive(std::uint8_t* dest, std::size_t count) {
    if (m_socket < 0 || m_gone || count == 0) {
        return 0;
    }
    for (;;) {
        const ssize_t n = ::recv(m_socket, dest, count, MSG_DONTWAIT);
        if (n > 0) {
            return static_cast<std::size_t>(n);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            m_gone = true;  // closed by the peer, or failed
            m_lostReason = n == 0 ? kClosedText : ErrorText(errno);
        }
        return 0;
    }
}

void TcpSocket::WaitReadable(std::uint32_t timeoutMs) {
    if (m_socket < 0 || m_gone) {
        return;
    }
    pollfd waiting{m_socket, POLLIN, 0};
    const std::int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        const std::int64_t left = deadline - NowMs();
        const int ready = ::poll(&waiting, 1, static_cast<int>(std::max<std::int64_t>(left, 0)));
        if (ready >= 0 || errno != EINTR || left <= 0) {
            return;
        }
    }
}

}  // namespace quillon
