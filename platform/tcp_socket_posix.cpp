#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/tcp_socket.h"

namespace quillon {

namespace {

constexpr int kStopPollMs = 20;
constexpr int kSendStallMs = 2000;

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
}

std::string TcpSocket::Connect(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs,
                               const std::function<bool()>& stop) {
    Close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int resolved = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (resolved != 0) {
        return resolved == EAI_NONAME || resolved == EAI_FAIL || resolved == EAI_NODATA
                   ? "host not found"
                   : ::gai_strerror(resolved);
    }
    const std::int64_t deadline = NowMs() + timeoutMs;
    std::string reason = "timed out";
    for (addrinfo* address = found; address != nullptr; address = address->ai_next) {
        const int fd =
            ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                     address->ai_protocol);
        if (fd < 0) {
            reason = ErrorText(errno);
            continue;
        }
        int error = 0;
        if (::connect(fd, address->ai_addr, address->ai_addrlen) != 0) {
            error = errno;
        }
        // The connection comes within the time left, or the stop request ends the wait.
        while (error == EINPROGRESS) {
            if (stop && stop()) {
                ::close(fd);
                ::freeaddrinfo(found);
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
                socklen_t size = sizeof error;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
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
            ::freeaddrinfo(found);
            return {};
        }
        ::close(fd);
        reason = ErrorText(error);
        if (error == ETIMEDOUT) {
            break;  // the time is spent
        }
    }
    ::freeaddrinfo(found);
    return reason;
}

bool TcpSocket::Send(const std::uint8_t* bytes, std::size_t count) {
    std::size_t sent = 0;
    while (sent < count) {
        if (m_socket < 0 || m_gone) {
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
