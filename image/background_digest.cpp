#include "image/background_digest.h"

#include <system_error>

namespace quillon {

BackgroundDigest::BackgroundDigest() {
    try {
        m_thread = std::thread([this] { HashWaitingBlocks(); });
    } catch (const std::system_error&) {
        // No thread to be had: Update hashes in the caller's thread.
    }
}

BackgroundDigest::~BackgroundDigest() {
    if (m_thread.joinable()) {
        {
            const std::lock_guard lock(m_mutex);
            m_ending = true;
            m_waiting.clear();
        }
        m_changed.notify_all();
        m_thread.join();
    }
}

void BackgroundDigest::Update(const std::uint8_t* bytes, std::size_t count) {
    if (count == 0) {
        return;
    }
    if (!m_thread.joinable()) {
        m_sha.Update(bytes, count);
        return;
    }
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_waiting.size() < kMostWaiting; });
    std::vector<std::uint8_t> block;
    if (!m_spare.empty()) {
        block = std::move(m_spare.back());
        m_spare.pop_back();
    }
    block.assign(bytes, bytes + count);
    m_waiting.push_back(std::move(block));
    lock.unlock();
    m_changed.notify_all();
}

void BackgroundDigest::HashWaitingBlocks() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_ending || !m_waiting.empty(); });
        if (m_waiting.empty()) {
            return;  // ending, and everything handed over is hashed
        }
        std::vector<std::uint8_t> block = std::move(m_waiting.front());
        m_waiting.pop_front();
        lock.unlock();
        m_sha.Update(block.data(), block.size());
        lock.lock();
        m_spare.push_back(std::move(block));
        m_changed.notify_all();
    }
}

std::string BackgroundDigest::FinishHex() {
    if (m_thread.joinable()) {
        {
            const std::lock_guard lock(m_mutex);
            m_ending = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    return m_sha.FinishHex();
}

}  // namespace quillon
