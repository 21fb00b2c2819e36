#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/sha256.h"

namespace quillon {

// SHA-256 of a byte stream, computed on a thread of its own so that the hashing overlaps the
// caller's work on the same bytes (the HEX reader parses while its file is hashed). The caller
// hands over copies, gathered into blocks of kBlockSize so that the two threads meet rarely;
// at most kMostWaiting blocks wait at once, beyond that Update waits for the hash to catch up
// (it always does: the hash thread waits for nothing else). Without a thread (the system
// would not start one) the caller's thread hashes.
class BackgroundDigest {
public:
    BackgroundDigest();
    ~BackgroundDigest();
    BackgroundDigest(const BackgroundDigest&) = delete;
    BackgroundDigest& operator=(const BackgroundDigest&) = delete;

    // Adds `count` bytes to the message.
    void Update(const std::uint8_t* bytes, std::size_t count);
    // Waits for the bytes handed over so far and returns their digest as 64 lower-case
    // hexadecimal digits. The object is spent afterwards.
    std::string FinishHex();

private:
    void HashWaitingBlocks();
    // Hands the block being gathered to the hash thread, waiting while kMostWaiting wait.
    void HandOver();

    static constexpr std::size_t kBlockSize = 256 * 1024;
    static constexpr std::size_t kMostWaiting = 8;

    // Made on the hash thread: the library's set-up costs the caller nothing.
    std::optional<Sha256> m_sha;
    std::vector<std::uint8_t> m_gathering;  // the caller's next block, not yet handed over
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<std::uint8_t>> m_waiting;  // handed over, not yet hashed
    std::vector<std::vector<std::uint8_t>> m_spare;   // hashed blocks kept for reuse
    bool m_ending = false;
    // Which side waits for the other, so that the other wakes it only then.
    bool m_hasherWaits = false;
    bool m_callerWaits = false;
    std::thread m_thread;  // not joinable: the caller hashes
};

}  // namespace quillon
