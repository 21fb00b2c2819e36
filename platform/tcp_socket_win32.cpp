#include <winsock2.h>
#include <ws2tcpip.h>

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

// `ip` on `port` as the system's socket address; returns its size.
int ToSocketAddress(const IpAddress& ip, std::uint16_t port, sockaddr_storage& address) {
    if (!ip.v6) {
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        v4.sin_family = AF_INET;
        v4.sin_port = ::htons(port);
        std::memcpy(&v4.sin_addr, ip.bytes.data(), 4);
        return sizeof v4;
    }
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = ::htons(port);
    std::memcpy(&v6.sin6_addr, ip.bytes.data(), 16);
    v6.sin6_scope_id = ip.scope;
    return sizeof v6;
}

// The system's `error` in the operator's few words.
Error NetworkError(int error) {
    switch (error) {
        case WSAECONNREFUSED:
            return {ErrorKind::kRefused, "connection refused"};
        case WSAETIMEDOUT:
            return {ErrorKind::kTimeout, "timed out"};
        case WSAENETUNREACH:
        case WSAEHOSTUNREACH:
            return {ErrorKind::kNotFound, "host unreachable"};
        default:
            return {ErrorKind::kIo, "network error " + std::to_string(error)};
    }
}

// Waits up to `timeoutMs` for `socket` to become writable (`write`) or readable; 1 ready, 0
// time up, -1 failed.
int WaitFor(SOCKET socket, bool write, int timeoutMs) {
    WSAPOLLFD waiting{};
    waiting.fd = socket;
    waiting.events = write ? POLLWRNORM : POLLRDNORM;
    const int ready = ::WSAPoll(&waiting, 1, timeoutMs);
    if (ready > 0 && (waiting.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && write) {
        return -1;
    }
    return ready;
}

}  // namespace

struct TcpSocket::Impl {
    SOCKET socket = INVALID_SOCKET;
};

TcpSocket::TcpSocket() : TcpSocket(SystemClock()) {}

TcpSocket::TcpSocket(Clock& clock) : m_clock(clock), m_impl(std::make_unique<Impl>()) {}

TcpSocket::~TcpSocket() {
    Close();
}

bool TcpSocket::IsOpen() const {
    return m_impl->socket != INVALID_SOCKET;
}

void TcpSocket::Close() {
    if (IsOpen()) {
        ::closesocket(m_impl->socket);
        m_impl->socket = INVALID_SOCKET;
    }
    m_lost.reset();
}

Status TcpSocket::ConnectOne(const IpAddress& ip, std::uint16_t port, std::uint64_t deadlineMs,
                             const std::function<bool()>& stop) {
    sockaddr_storage address{};
    const int size = ToSocketAddress(ip, port, address);
    const SOCKET socket = ::socket(address.ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET) {
        return Fail(NetworkError(::WSAGetLastError()));
    }
    u_long nonBlocking = 1;
    ::ioctlsocket(socket, FIONBIO, &nonBlocking);
    int error = 0;
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
        error = ::WSAGetLastError();
    }
    bool pending = error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
    while (pending) {
        if (stop && stop()) {
            ::closesocket(socket);
            return Fail(ErrorKind::kAborted, "aborted");
        }
        const std::uint64_t now = m_clock.NowMs();
        if (now >= deadlineMs) {
            error = WSAETIMEDOUT;
            break;
        }
        const int ready =
            WaitFor(socket, true, static_cast<int>(std::min(deadlineMs - now, kStopPollMs)));
        if (ready != 0) {
            int soError = 0;
            int soSize = sizeof soError;
            ::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &soSize);
            error = ready < 0 && soError == 0 ? WSAECONNREFUSED : soError;
            pending = false;
        }
    }
    if (error != 0) {
        ::closesocket(socket);
        return Fail(NetworkError(error));
    }
    BOOL on = TRUE;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    m_impl->socket = socket;
    return {};
}

Status TcpSocket::Send(const std::uint8_t* bytes, std::size_t count) {
    if (m_lost) {
        return Fail(*m_lost);
    }
    if (!IsOpen()) {
        return Fail(ErrorKind::kIo, "not connected");
    }
    const SOCKET socket = m_impl->socket;
    StalledWrite connection;
    connection.writeSome = [socket](const std::uint8_t* part,
                                    std::size_t size) -> Result<std::size_t> {
        const int chunk = static_cast<int>(std::min<std::size_t>(size, 1 << 20));
        const int n = ::send(socket, reinterpret_cast<const char*>(part), chunk, 0);
        if (n > 0) {
            return static_cast<std::size_t>(n);
        }
        const int error = n == SOCKET_ERROR ? ::WSAGetLastError() : 0;
        if (error == WSAEWOULDBLOCK) {
            return 0;
        }
        if (error == 0) {
            return Fail(ErrorKind::kTimeout, kSendStallText);
        }
        return Fail(NetworkError(error));
    };
    connection.waitWritable = [socket](int stallMs) -> Result<bool> {
        return WaitFor(socket, true, stallMs) > 0;
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
    if (!IsOpen() || m_lost || count == 0) {
        return 0;
    }
    const int chunk = static_cast<int>(std::min<std::size_t>(count, 1 << 20));
    const int n = ::recv(m_impl->socket, reinterpret_cast<char*>(dest), chunk, 0);
    if (n > 0) {
        return static_cast<std::size_t>(n);
    }
    const int error = n == 0 ? 0 : ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK) {
        MarkLost(n == 0 ? Error{ErrorKind::kIo, kClosedText} : NetworkError(error));
    }
    return 0;
}

void TcpSocket::WaitReadable(std::uint32_t timeoutMs) {
    if (!IsOpen() || m_lost) {
        return;
    }
    WaitFor(m_impl->socket, false,
            static_cast<int>(std::min<std::uint32_t>(timeoutMs, 0x7FFFFFFF)));
}

}  // namespace quillon
