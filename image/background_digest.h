#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/sha256.h"

namespace quillon {

// SHA-256 of a byte stream, computed on a thread of its own so that the hashing overlaps the
// caller's work on the same bytes (the HEX reader parses while its file is hashed). The bytes
// are gathered into blocks of kBlockSize so that the two threads meet rarely; at most
// kMostWaiting blocks wait at once, beyond that the caller waits for the hash to catch up (it
// always does: the hash thread waits for nothing else). Without a thread (the system would
// not start one) the caller's thread hashes.
class BackgroundDigest {
public:
    BackgroundDigest();
    ~BackgroundDigest();
    BackgroundDigest(const BackgroundDigest&) = delete;
    BackgroundDigest& operator=(const BackgroundDigest&) = delete;

    // Adds a copy of `count` bytes to the message.
    void Update(const std::uint8_t* bytes, std::size_t count);

    // Without a copy: Room gives the place for the message's next bytes (from 1 to `most`
    // bytes), and Gathered adds the first `count` of them once they are written there. The
    // bytes stay as they are, for the caller to read too, until its next call of Room.
    std::span<std::uint8_t> Room(std::size_t most);
    void Gathered(std::size_t count);

    // Waits for the bytes handed over so far and returns their digest as 64 lower-case
    // hexadecimal digits. The object is spent afterwards.
    std::string FinishHex();

private:
    struct Block {
        std::unique_ptr<std::uint8_t[]> bytes;
        std::size_t size = 0;
    };

    void HashWaitingBlocks();
    // Hashes the block being gathered, or hands it to the hash thread (waiting while
    // kMostWaiting wait), and takes an empty one in its place.
    void HandOver();

    static constexpr std::size_t kBlockSize = 256 * 1024;
    static constexpr std::size_t kMostWaiting = 8;

    // Made on the hash thread: the library's set-up costs the caller nothing.
    std::optional<Sha256> m_sha;
    Block m_gathering;  // the caller's next block, not yet handed over
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Block> m_waiting;  // handed over, not yet hashed
    std::vector<Block> m_spare;   // hashed blocks kept for reuse
    bool m_ending = false;
    // Which side waits for the other, so that the other wakes it only then.
    bool m_hasherWaits = false;
    bool m_callerWaits = false;
    std::thread m_thread;  // not joinable: the caller hashes
};

}  // namespace quillon
