#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <mutex>

#include "platform/tcp_socket.h"

namespace quillon {

namespace {

constexpr int kStopPollMs = 20;
constexpr int kSendStallMs = 2000;
constexpr std::uintptr_t kNoSocket = static_cast<std::uintptr_t>(INVALID_SOCKET);

SOCKET AsSocket(std::uintptr_t socket) {
    return static_cast<SOCKET>(socket);
}

// Winsock is started once for the process and left running until it ends.
void StartWinsock() {
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data{};
        ::WSAStartup(MAKEWORD(2, 2), &data);
    });
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
        case WSAHOST_NOT_FOUND:
        case WSANO_DATA:
            return "host not found";
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
}

std::string TcpSocket::Connect(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs,
                               const std::function<bool()>& stop) {
    Close();
    StartWinsock();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) {
        return ErrorText(::WSAGetLastError());
    }
    const std::int64_t deadline = NowMs() + timeoutMs;
    std::string reason = "timed out";
    for (addrinfo* address = found; address != nullptr; address = address->ai_next) {
        const SOCKET socket =
            ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (socket == INVALID_SOCKET) {
            reason = ErrorText(::WSAGetLastError());
            continue;
        }
        u_long nonBlocking = 1;
        ::ioctlsocket(socket, FIONBIO, &nonBlocking);
        int error = 0;
        if (::connect(socket, address->ai_addr, static_cast<int>(address->ai_addrlen)) != 0) {
            error = ::WSAGetLastError();
        }
        bool pending = error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
        while (pending) {
            if (stop && stop()) {
                ::closesocket(socket);
                ::freeaddrinfo(found);
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
                int size = sizeof soError;
                ::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError),
                             &size);
                error = ready < 0 && soError == 0 ? WSAECONNREFUSED : soError;
                pending = false;
            }
        }
        if (error == 0) {
            BOOL on = TRUE;
            ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                         sizeof on);
            m_socket = static_cast<std::uintptr_t>(socket);
            ::freeaddrinfo(found);
            return {};
        }
        ::closesocket(socket);
        reason = ErrorText(error);
        if (error == WSAETIMEDOUT) {
            break;
        }
    }
    ::freeaddrinfo(found);
    return reason;
}

bool TcpSocket::Send(const std::uint8_t* bytes, std::size_t count) {
    std::size_t sent = 0;
    while (sent < count) {
        if (!IsOpen() || m_gone) {
            return false;
        }
        const int chunk = static_cast<int>(std::min<std::size_t>(count - sent, 1 << 20));
        const int n =
            ::send(AsSocket(m_socket), reinterpret_cast<const char*>(bytes + sent), chunk, 0);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK &&
            WaitFor(AsSocket(m_socket), true, kSendStallMs) > 0) {
            continue;
        }
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
    if (n == 0 || ::WSAGetLastError() != WSAEWOULDBLOCK) {
        m_gone = true;
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
