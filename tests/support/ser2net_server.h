#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tests/support/process.h"
#include "tests/support/test_files.h"

namespace quillon {

// The serial device server of the network port tests: Debian's ser2net in the foreground
// (no detaching, no lock files), serving one device both as an RFC 2217 port and as a raw TCP
// port on free ports of the loopback interface.
class Ser2netServer {
public:
    // Serves `device` (a quillon-sim pseudo-terminal); returns once both ports take
    // connections.
    explicit Ser2netServer(const std::string& device);
    ~Ser2netServer();

    std::string Rfc2217Url() const { return "rfc2217://127.0.0.1:" + std::to_string(m_rfc2217); }
    std::string RawUrl() const { return "socket://127.0.0.1:" + std::to_string(m_raw); }
    // Ends the server at once (SIGKILL), as a crash or a pulled network cable would.
    void Kill();

private:
    TempDir m_dir;
    std::uint16_t m_rfc2217 = 0;
    std::uint16_t m_raw = 0;
    int m_pid = -1;
};

// A TCP port on the loopback interface that nobody listens on (free when asked).
std::uint16_t FreeTcpPort();
// Whether a socket listens on `port` (IPv4), read from the kernel's table without connecting.
bool TcpPortListens(std::uint16_t port);

}  // namespace quillon
