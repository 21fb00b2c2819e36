#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/host_lookup.h"
#include "platform/tcp_socket.h"
#include "platform/write_all.h"

namespace quillon {

namespace {

constexpr std::uint64_t kStopPollMs = 20;
constexpr int kSendStallMs = 2000;
constexpr const char* kSendStallText = "the server took no byte for 2 s";
constexpr const char* kClosedText = "the server closed the connection";

// The system's `error` in the operator's few words.
Error NetworkError(int error) {
    switch (error) {
        case ECONNREFUSED:
            return {ErrorKind::kRefused, "connection refused"};
        case ETIMEDOUT:
            return {ErrorKind::kTimeout, "timed out"};
        case ENETUNREACH:
        case EHOSTUNREACH:
            return {ErrorKind::kNotFound, "host unreachable"};
        default:
            return {ErrorKind::kIo, std::strerror(error)};
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

}  // namespace

struct TcpSocket::Impl {
    int socket = -1;
};

TcpSocket::TcpSocket() : TcpSocket(SystemClock()) {}

TcpSocket::TcpSocket(Clock& clock) : m_clock(clock), m_impl(std::make_unique<Impl>()) {}

TcpSocket::~TcpSocket() {
    Close();
}

bool TcpSocket::IsOpen() const {
    return m_impl->socket >= 0;
}

void TcpSocket::Close() {
    if (m_impl->socket >= 0) {
        ::close(m_impl->socket);
        m_impl->socket = -1;
    }
    m_lost.reset();
}

Status TcpSocket::ConnectOne(const IpAddress& ip, std::uint16_t port, std::uint64_t deadlineMs,
                             const std::function<bool()>& stop) {
    sockaddr_storage address{};
    const socklen_t size = ToSocketAddress(ip, port, address);
    const int fd =
        ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        return Fail(NetworkError(errno));
    }
    int error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
        error = errno;
    }
    // The connection comes within the time left, or the stop request ends the wait.
    while (error == EINPROGRESS) {
        if (stop && stop()) {
            ::close(fd);
            return Fail(ErrorKind::kAborted, "aborted");
        }
        const std::uint64_t now = m_clock.NowMs();
        if (now >= deadlineMs) {
            error = ETIMEDOUT;
            break;
        }
        pollfd waiting{fd, POLLOUT, 0};
        const int ready = ::poll(
            &waiting, 1, static_cast<int>(std::min<std::uint64_t>(deadlineMs - now, kStopPollMs)));
        if (ready > 0) {
            socklen_t errorSize = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorSize) != 0) {
                error = errno;
            }
        } else if (ready < 0 && errno != EINTR) {
            error = errno;
        }
    }
    if (error != 0) {
        ::close(fd);
        return Fail(NetworkError(error));
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    m_impl->socket = fd;
    return {};
}

Status TcpSocket::Send(const std::uint8_t* bytes, std::size_t count) {
    if (m_lost) {
        return Fail(*m_lost);
    }
    const int socket = m_impl->socket;
    if (socket < 0) {
        return Fail(ErrorKind::kIo, "not connected");
    }
    StalledWrite connection;
    connection.writeSome = [socket](const std::uint8_t* part,
                                    std::size_t size) -> Result<std::size_t> {
        for (;;) {
            const ssize_t n = ::send(socket, part, size, MSG_NOSIGNAL);
            if (n > 0) {
                return static_cast<std::size_t>(n);
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return 0;
            }
            if (n < 0) {
                return Fail(NetworkError(errno));
            }
            return Fail(ErrorKind::kTimeout, kSendStallText);
        }
    };
    connection.waitWritable = [socket](int stallMs) -> Result<bool> {
        pollfd waiting{socket, POLLOUT, 0};
        return ::poll(&waiting, 1, stallMs) > 0 && (waiting.revents & POLLOUT) != 0;
    };
    connection.stallMs = kSendStallMs;
    connection.stallText = kSendStallText;
    // Failed, or the peer took nothing for too long: gone either way.
    if (Status sent = WriteAllWithStallLimit(bytes, count, connection); !sent) {
        MarkLost(std::move(sent).error());
        return Fail(*m_lost);
    }
    return {};
}

std::size_t TcpSocket::Receive(std::uint8_t* dest, std::size_t count) {
    if (m_impl->socket < 0 || m_lost || count == 0) {
        return 0;
    }
    for (;;) {
        const ssize_t n = ::recv(m_impl->socket, dest, count, MSG_DONTWAIT);
        if (n > 0) {
            return static_cast<std::size_t>(n);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            // Closed by the peer, or failed.
            MarkLost(n == 0 ? Error{ErrorKind::kIo, kClosedText} : NetworkError(errno));
        }
        return 0;
    }
}

void TcpSocket::WaitReadable(std::uint32_t timeoutMs) {
    if (m_impl->socket < 0 || m_lost) {
        return;
    }
    pollfd waiting{m_impl->socket, POLLIN, 0};
    const std::uint64_t deadline = m_clock.NowMs() + timeoutMs;
    for (;;) {
        const std::uint64_t now = m_clock.NowMs();
        const std::uint64_t left = deadline > now ? deadline - now : 0;
        const int ready =
            ::poll(&waiting, 1, static_cast<int>(std::min<std::uint64_t>(left, 0x7FFFFFFF)));
        if (ready >= 0 || errno != EINTR || left == 0) {
            return;
        }
    }
}

}  // namespace quillon
