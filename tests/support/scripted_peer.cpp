#include "tests/support/scripted_peer.h"

#include <algorithm>

ScriptedPeer::ScriptedPeer(PtyPair& pty, Script script) : m_pty(pty) {
    // A new conversation: what an earlier one left unread is not part of it.
    m_pty.ReceiveAvailable();
    m_thread = std::thread([this, script = std::move(script)] { script(*this); });
}

ScriptedPeer::~ScriptedPeer() {
    Stop();
    Join();
}

void ScriptedPeer::Join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::vector<std::uint8_t> ScriptedPeer::Expect(std::size_t count, int timeoutMs) {
    std::vector<std::uint8_t> got;
    // In slices, so that Stop ends a long wait soon.
    for (int waited = 0; got.size() < count && waited < timeoutMs && !m_stop; waited += 50) {
        const std::vector<std::uint8_t> more =
            m_pty.Receive(count - got.size(), std::min(50, timeoutMs - waited));
        got.insert(got.end(), more.begin(), more.end());
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.insert(m_received.end(), got.begin(), got.end());
    return got;
}

std::string ScriptedPeer::ExpectText(std::size_t count, int timeoutMs) {
    const std::vector<std::uint8_t> got = Expect(count, timeoutMs);
    return std::string(got.begin(), got.end());
}

void ScriptedPeer::Reply(const std::vector<std::uint8_t>& bytes) {
    m_pty.Send(bytes);
}

void ScriptedPeer::Reply(const std::string& text) {
    m_pty.Send(text);
}

std::vector<std::uint8_t> ScriptedPeer::AllReceived() {
    Stop();
    Join();
    std::vector<std::uint8_t> rest = m_pty.ReceiveAvailable();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.insert(m_received.end(), rest.begin(), rest.end());
    return m_received;
}
