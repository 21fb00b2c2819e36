#include "tests/support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace quillon {

PtyPair::PtyPair() {
    char name[256] = {};
    termios raw{};
    ::cfmakeraw(&raw);
    if (::openpty(&m_master, &m_keepSlave, name, &raw, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    m_slavePath = name;
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    // The slave descriptor from openpty is not needed by the tests; closing it lets the code
    // under test be the only holder, as with a real port.
    ::close(m_keepSlave);
    m_keepSlave = -1;
}

PtyPair::~PtyPair() {
    HangUp();
}

void PtyPair::Send(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
        } else {
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
    }
}

void PtyPair::Send(const std::string& text) {
    Send(std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> PtyPair::Receive(std::size_t count, int timeoutMs) {
    std::vector<std::uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count) {
        std::uint8_t chunk[4096];
        const ssize_t n = ::read(m_master, chunk, std::min(sizeof chunk, count - got.size()));
        if (n > 0) {
            got.insert(got.end(), chunk, chunk + n);
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            break;
        }
        pollfd p{m_master, POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(left));
    }
    return got;
}

std::vector<std::uint8_t> PtyPair::ReceiveAvailable() {
    std::vector<std::uint8_t> got;
    std::uint8_t chunk[4096];
    ssize_t n;
    while ((n = ::read(m_master, chunk, sizeof chunk)) > 0) {
        got.insert(got.end(), chunk, chunk + n);
    }
    return got;
}

void PtyPair::HangUp() {
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
    if (m_keepSlave >= 0) {
        ::close(m_keepSlave);
        m_keepSlave = -1;
    }
}

}  // namespace quillon
