#include "image/background_digest.h"

#include <algorithm>
#include <system_error>

namespace quillon {

BackgroundDigest::BackgroundDigest() {
    m_gathering.reserve(kBlockSize);
    try {
        m_thread = std::thread([this] {
            m_sha.emplace();
            HashWaitingBlocks();
        });
    } catch (const std::system_error&) {
        // No thread to be had: Update hashes in the caller's thread.
        m_sha.emplace();
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
    if (!m_thread.joinable()) {
        m_sha->Update(bytes, count);
        return;
    }
    while (count > 0) {
        const std::size_t taken = std::min(count, kBlockSize - m_gathering.size());
        m_gathering.insert(m_gathering.end(), bytes, bytes + taken);
        bytes += taken;
        count -= taken;
        if (m_gathering.size() == kBlockSize) {
            HandOver();
        }
    }
}

void BackgroundDigest::HandOver() {
    std::unique_lock lock(m_mutex);
    m_callerWaits = true;
    m_changed.wait(lock, [this] { return m_waiting.size() < kMostWaiting; });
    m_callerWaits = false;
    std::vector<std::uint8_t> next;
    if (!m_spare.empty()) {
        next = std::move(m_spare.back());
        m_spare.pop_back();
    }
    m_waiting.push_back(std::move(m_gathering));
    const bool wake = m_hasherWaits;
    lock.unlock();
    if (wake) {
        m_changed.notify_all();
    }
    m_gathering = std::move(next);
    m_gathering.clear();
    m_gathering.reserve(kBlockSize);
}

void BackgroundDigest::HashWaitingBlocks() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_hasherWaits = true;
        m_changed.wait(lock, [this] { return m_ending || !m_waiting.empty(); });
        m_hasherWaits = false;
        if (m_waiting.empty()) {
            return;  // ending, and everything handed over is hashed
        }
        std::vector<std::uint8_t> block = std::move(m_waiting.front());
        m_waiting.pop_front();
        lock.unlock();
        m_sha->Update(block.data(), block.size());
        lock.lock();
        m_spare.push_back(std::move(block));
        if (m_callerWaits) {
            m_changed.notify_all();
        }
    }
}

std::string BackgroundDigest::FinishHex() {
    if (m_thread.joinable()) {
        if (!m_gathering.empty()) {
            HandOver();
        }
        {
            const std::lock_guard lock(m_mutex);
            m_ending = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    return m_sha->FinishHex();
}

}  // namespace quillon
