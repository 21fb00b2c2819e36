#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

// A pseudo-terminal for tests: the code under test opens the slave by its path as a serial
// port; the test plays the other end on the master side.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    // Sends bytes to whoever holds the slave.
    void Send(const std::vector<std::uint8_t>& bytes);
    void Send(const std::string& text);
    // Collects what the slave side wrote, until `count` bytes have come or `timeoutMs` passed.
    std::vector<std::uint8_t> Receive(std::size_t count, int timeoutMs);
    // Everything the slave side wrote so far, without waiting.
    std::vector<std::uint8_t> ReceiveAvailable();
    // Hangs up: closes the master, so the slave side sees the device vanish.
    void HangUp();

private:
    int m_master = -1;
    int m_keepSlave = -1;  // keeps the slave alive (no EIO) while the test sets things up
    std::string m_slavePath;
};

}  // namespace quillon
