#include <winsock2.h>
#include <ws2tcpip.h>

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
constexpr std::uintptr_t kNoSocket = static_cast<std::uintptr_t>(INVALID_SOCKET);

SOCKET AsSocket(std::uintptr_t socket) {
    return static_cast<SOCKET>(socket);
}

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

std::string ErrorText(int error) {
    switch (error) {
        case WSAECONNREFUSED:
            return "connection refused";
        case WSAETIMEDOUT:
            return "timed out";
        case WSAENETUNREACH:
        case WSAEHOSTUNREACH:
            return "host unreachable";
        default:
            return "network error " + std::to_string(error);
    }
}

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
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

TcpSocket::TcpSocket() : m_socket(kNoSocket) {}

TcpSocket::~TcpSocket() {
    Close();
}

bool TcpSocket::IsOpen() const {
    return m_socket != kNoSocket;
}

void TcpSocket::Close() {
    if (IsOpen()) {
        ::closesocket(AsSocket(m_socket));
        m_socket = kNoSocket;
    }
    m_gone = false;
    m_lostReason.clear();
}

std::string TcpSocket::Connect(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs,
                               const std::function<bool()>& stop) {
    Close();
    // The look-up (which starts Winsock) and the connect share the one limit.
    const std::int64_t deadline = NowMs() + timeoutMs;
    const HostLookup found = LookUpHosts({host}, timeoutMs, stop).front();
    if (!found.ok()) {
        return found.reason;
    }
    std::string reason = "timed out";
    for (const IpAddress& ip : found.addresses) {
        sockaddr_storage address{};
        const int size = ToSocketAddress(ip, port, address);
        const SOCKET socket = ::socket(address.ss_family, SOCK_STREAM, IPPROTO_TCP);
        if (socket == INVALID_SOCKET) {
            reason = ErrorText(::WSAGetLastError());
            continue;
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
                return "aborted";
            }
            const std::int64_t left = deadline - NowMs();
            if (left <= 0) {
                error = WSAETIMEDOUT;
                break;
            }
            const int ready =
                WaitFor(socket, true, static_cast<int>(std::min<std::int64_t>(left, kStopPollMs)));
            if (ready != 0) {
                int soError = 0;
                int soSize = sizeof soError;
                ::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError),
                             &soSize);
                error = ready < 0 && soError == 0 ? WSAECONNREFUSED : soError;
                pending = false;
            }
        }
        if (error == 0) {
            BOOL on = TRUE;
            ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                         sizeof on);
            m_socket = static_cast<std::uintptr_t>(socket);
            return {};
        }
        ::closesocket(socket);
        reason = ErrorText(error);
        if (error == WSAETIMEDOUT) {
            break;
        }
    }
    return reason;
}

bool TcpSocket::Send(const std::uint8_t* bytes, std::size_t count) {
    std::size_t sent = 0;
    while (sent < count) {
        if (!IsOpen() || m_gone) {
            if (m_lostReason.empty()) {
                m_lostReason = "not connected";
            }
            return false;
        }
        const int chunk = static_cast<int>(std::min<std::size_t>(count - sent, 1 << 20));
        const int n =
            ::send(AsSocket(m_socket), reinterpret_cast<const char*>(bytes + sent), chunk, 0);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        const int error = n == SOCKET_ERROR ? ::WSAGetLastError() : 0;
        if (error == WSAEWOULDBLOCK && WaitFor(AsSocket(m_socket), true, kSendStallMs) > 0) {
            continue;
        }
        m_lostReason = error == 0 || error == WSAEWOULDBLOCK ? kSendStallText : ErrorText(error);
        m_gone = true;
        return false;
    }
    return true;
}

std::size_t TcpSocket::Receive(std::uint8_t* dest, std::size_t count) {
    if (!IsOpen() || m_gone || count == 0) {
        return 0;
    }
    const int chunk = static_cast<int>(std::min<std::size_t>(count, 1 << 20));
    const int n = ::recv(AsSocket(m_socket), reinterpret_cast<char*>(dest), chunk, 0);
    if (n > 0) {
        return static_cast<std::size_t>(n);
    }
    const int error = n == 0 ? 0 : ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK) {
        m_gone = true;
        m_lostReason = n == 0 ? kClosedText : ErrorText(error);
    }
    return 0;
}

void TcpSocket::WaitReadable(std::uint32_t timeoutMs) {
    if (!IsOpen() || m_gone) {
        return;
    }
    WaitFor(AsSocket(m_socket), false,
            static_cast<int>(std::min<std::uint32_t>(timeoutMs, 0x7FFFFFFF)));
}

}  // namespace quillon
