#include "image/background_digest.h"

#include <system_error>
#include <utility>

namespace quillon {

BackgroundDigest::BackgroundDigest(Source source) : m_source(std::move(source)) {
    try {
        m_thread = std::thread([this] {
            m_sha.emplace();
            ReadAndHash();
        });
    } catch (const std::system_error&) {
        // No thread to be had: Next reads and hashes in the caller's thread.
        m_sha.emplace();
    }
}

BackgroundDigest::~BackgroundDigest() {
    Stop();
}

void BackgroundDigest::Stop() {
    if (m_thread.joinable()) {
        {
            const std::lock_guard lock(m_mutex);
            m_ending = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    m_over = true;
}

void BackgroundDigest::ReadBlock(Block& block) {
    if (!block.bytes) {
        block.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockSize);
    }
    block.size = m_source(block.bytes.get(), kBlockSize);
}

void BackgroundDigest::ReadAndHash() {
    for (std::size_t n = 0;; ++n) {
        {
            // Block n takes the place of block n - kBlocks: once the caller is done with it
            // (this thread hashed it long before).
            std::unique_lock lock(m_mutex);
            m_readerWaits = true;
            m_changed.wait(lock, [this, n] { return m_ending || n < m_released + kBlocks; });
            m_readerWaits = false;
            if (m_ending) {
                return;
            }
        }
        Block& block = m_blocks[n % kBlocks];
        ReadBlock(block);
        bool wake = false;
        {
            const std::lock_guard lock(m_mutex);
            m_published = n + 1;
            wake = m_callerWaits;
        }
        if (wake) {
            m_changed.notify_all();
        }
        if (block.size <= 0) {
            return;  // the end, or a failure: nothing more to read
        }
        // The caller may read the block meanwhile; neither writes it.
        m_sha->Update(block.bytes.get(), static_cast<std::size_t>(block.size));
    }
}

std::optional<std::span<const std::uint8_t>> BackgroundDigest::Next() {
    const auto over = [this]() -> std::optional<std::span<const std::uint8_t>> {
        if (m_failed) {
            return std::nullopt;
        }
        return std::span<const std::uint8_t>();
    };
    if (m_over) {
        return over();
    }
    Block* block = nullptr;
    if (!m_thread.joinable()) {
        block = &m_blocks[0];
        ReadBlock(*block);
        if (block->size > 0) {
            m_sha->Update(block->bytes.get(), static_cast<std::size_t>(block->size));
        }
    } else {
        std::unique_lock lock(m_mutex);
        if (m_holding) {
            m_holding = false;
            ++m_released;
            if (m_readerWaits) {
                m_changed.notify_all();
            }
        }
        m_callerWaits = true;
        m_changed.wait(lock, [this] { return m_published > m_released; });
        m_callerWaits = false;
        block = &m_blocks[m_released % kBlocks];
        m_holding = block->size > 0;
    }
    if (block->size > 0) {
        return std::span<const std::uint8_t>(block->bytes.get(),
                                             static_cast<std::size_t>(block->size));
    }
    m_over = true;
    m_failed = block->size < 0;
    return over();
}

std::optional<std::string> BackgroundDigest::FinishHex() {
    for (;;) {
        const std::optional<std::span<const std::uint8_t>> next = Next();
        if (!next || next->empty()) {
            break;
        }
    }
    Stop();
    if (m_failed) {
        return std::nullopt;
    }
    return m_sha->FinishHex();
}

}  // namespace quillon
