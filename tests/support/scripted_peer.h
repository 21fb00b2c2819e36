#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/pty_pair.h"

// The target's side of a test, written as a script that runs on its own thread against the
// master side of a pseudo-terminal: wait for what the host sends, answer, and so on. Every
// byte the host sent is recorded.
class ScriptedPeer {
public:
    using Script = std::function<void(ScriptedPeer&)>;

    ScriptedPeer(PtyPair& pty, Script script);
    ~ScriptedPeer();  // stops and waits for the script to end

    // Waits for the next `count` bytes from the host (at most `timeoutMs`) and returns them.
    std::vector<std::uint8_t> Expect(std::size_t count, int timeoutMs = 5000);
    // The same, as text.
    std::string ExpectText(std::size_t count, int timeoutMs = 5000);
    // Sends to the host.
    void Reply(const std::vector<std::uint8_t>& bytes);
    void Reply(const std::string& text);

    // Waits for the script's end.
    void Join();
    // Makes every Expect from now on return at once with what it has: ends a serving loop.
    void Stop() { m_stop = true; }
    bool Stopped() const { return m_stop; }
    // Everything the host sent, in order (also after the script ended: drains the line).
    std::vector<std::uint8_t> AllReceived();

private:
    PtyPair& m_pty;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<std::uint8_t> m_received;
    std::thread m_thread;
};
