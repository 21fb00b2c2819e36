#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "platform/sha256.h"

namespace quillon {

// Reads a byte source (a file) ahead on a thread of its own and hashes what it read (SHA-256),
// while the caller takes the same stretches, in order and without a copy, for its own work on
// them (the HEX reader parses the file while it is read and hashed). The thread reads at most
// kBlocks blocks of kBlockSize ahead of the caller; beyond that it waits for the caller, who
// always takes the next block or ends the read. Without a thread (the system would not start
// one) the caller's thread reads and hashes.
class BackgroundDigest {
public:
    // Reads up to `size` bytes into `into`: their count, 0 at the source's end, -1 when it
    // failed. Called on the digest's thread, one call at a time.
    using Source = std::function<long(std::uint8_t* into, std::size_t size)>;

    explicit BackgroundDigest(Source source);
    // Stop.
    ~BackgroundDigest();
    BackgroundDigest(const BackgroundDigest&) = delete;
    BackgroundDigest& operator=(const BackgroundDigest&) = delete;

    // The source's next stretch, once read (waiting for it): empty at the source's end, none
    // when it failed (and so again after either). Valid until the next call.
    std::optional<std::span<const std::uint8_t>> Next();
    // Takes what the caller left of the source to its end, and returns the digest of every
    // byte the source gave, as 64 lower-case hexadecimal digits; none when the source failed.
    // The object is spent afterwards.
    [[nodiscard]] std::optional<std::string> FinishHex();
    // Ends the read-ahead where it stands (for a caller that stopped early). The source is not
    // read once this returns.
    void Stop();

private:
    struct Block {
        std::unique_ptr<std::uint8_t[]> bytes;
        long size = 0;  // as the source said: bytes, 0 at the end, -1 when it failed
    };

    // Reads the source into `block`; the block's size says how that went.
    void ReadBlock(Block& block);
    void ReadAndHash();

    static constexpr std::size_t kBlockSize = 256 * 1024;
    static constexpr std::size_t kBlocks = 8;

    Source m_source;
    // Made on the thread: the library's set-up costs the caller nothing.
    std::optional<Sha256> m_sha;
    Block m_blocks[kBlocks];  // a ring: block n of the source is m_blocks[n % kBlocks]
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_published = 0;  // blocks read (and given to the caller)
    std::size_t m_released = 0;   // blocks the caller is done with
    bool m_holding = false;       // the caller has block m_released
    bool m_over = false;          // the caller took the end or the failure
    bool m_failed = false;        // ... and it was the failure
    bool m_ending = false;        // Stop: the thread reads no more
    // Which side waits for the other, so that the other wakes it only then.
    bool m_readerWaits = false;
    bool m_callerWaits = false;
    std::thread m_thread;  // not joinable: the caller reads and hashes
};

}  // namespace quillon
