#include "image/background_digest.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace quillon {

BackgroundDigest::BackgroundDigest() {
    m_gathering.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockSize);
    try {
        m_thread = std::thread([this] {
            m_sha.emplace();
            HashWaitingBlocks();
        });
    } catch (const std::system_error&) {
        // No thread to be had: the caller's thread hashes.
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
    while (count > 0) {
        const std::span<std::uint8_t> room = Room(count);
        std::memcpy(room.data(), bytes, room.size());
        Gathered(room.size());
        bytes += room.size();
        count -= room.size();
    }
}

std::span<std::uint8_t> BackgroundDigest::Room(std::size_t most) {
    if (m_gathering.size == kBlockSize) {
        HandOver();
    }
    return {m_gathering.bytes.get() + m_gathering.size,
            std::min(most, kBlockSize - m_gathering.size)};
}

void BackgroundDigest::Gathered(std::size_t count) {
    m_gathering.size += std::min(count, kBlockSize - m_gathering.size);
}

void BackgroundDigest::HandOver() {
    if (!m_thread.joinable()) {
        m_sha->Update(m_gathering.bytes.get(), m_gathering.size);
        m_gathering.size = 0;
        return;
    }
    std::unique_lock lock(m_mutex);
    m_callerWaits = true;
    m_changed.wait(lock, [this] { return m_waiting.size() < kMostWaiting; });
    m_callerWaits = false;
    m_waiting.push_back(std::move(m_gathering));
    m_gathering = {};
    if (!m_spare.empty()) {
        m_gathering = std::move(m_spare.back());
        m_spare.pop_back();
    }
    const bool wake = m_hasherWaits;
    lock.unlock();
    if (wake) {
        m_changed.notify_all();
    }
    if (!m_gathering.bytes) {
        m_gathering.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockSize);
    }
    m_gathering.size = 0;
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
        Block block = std::move(m_waiting.front());
        m_waiting.pop_front();
        lock.unlock();
        m_sha->Update(block.bytes.get(), block.size);
        lock.lock();
        m_spare.push_back(std::move(block));
        if (m_callerWaits) {
            m_changed.notify_all();
        }
    }
}

std::string BackgroundDigest::FinishHex() {
    if (m_gathering.size > 0) {
        HandOver();
    }
    if (m_thread.joinable()) {
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
