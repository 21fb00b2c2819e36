#pragma once

#include <cstddef>
#include <cstdint>

#include "link/byte_channel.h"
#include "link/job_events.h"
#include "platform/clock.h"

namespace quillon {

// The jobs' side of the line: writes bytes, throws away stale input and waits for answers
// under a time-out into its 1024-byte buffer. It has no framing of its own; the initialize and
// download jobs build their frames on it.
class TargetLine {
public:
    static constexpr std::size_t kBufferSize = 1024;

    TargetLine(ByteChannel& channel, Clock& clock, JobEventSink& events)
        : m_channel(channel), m_clock(clock), m_events(events) {}

    // Reads and drops every byte waiting in the input queue.
    void DiscardInput() { m_channel.DiscardInput(); }
    // One write for the whole stretch. Not ok when the line failed (an adapter pulled, a
    // connection lost): the job ends then, instead of waiting for answers that cannot come.
    [[nodiscard]] Status WriteBytes(const std::uint8_t* bytes, std::size_t count) {
        return m_channel.Write(bytes, count);
    }
    // Sends `bytes` one at a time, each in a write of its own; stops at the first that fails.
    [[nodiscard]] Status WriteEachByte(const std::uint8_t* bytes, std::size_t count);

    // Waits up to `timeoutMs` until `count` (1..1024) received bytes are queued and reads
    // them to the start of the buffer: exactly `count`, or with `readAll` everything queued
    // up to 1024. On a time-out the bytes that did arrive are consumed and shown as debug
    // text, and the result is false.
    [[nodiscard]] bool WaitForResponse(std::uint32_t timeoutMs, std::size_t count, bool readAll);

    // Waits until `count` (1..1024) received bytes are queued or the clock reaches
    // `deadlineMs`, then reads what is queued, at most `most` bytes (count..1024), to the start
    // of the buffer. Returns how many it read: 0 when the deadline passed with nothing queued.
    // Bytes fewer than `count` at the deadline are read all the same, without a debug line.
    [[nodiscard]] std::size_t ReadArrived(std::uint64_t deadlineMs, std::size_t count,
                                          std::size_t most);

    // The I/O buffer: commands are built at its start, answers are read to its start.
    std::uint8_t* buffer() { return m_buffer; }
    // How many bytes the last WaitForResponse read into the buffer.
    std::size_t lastReadCount() const { return m_lastReadCount; }

private:
    ByteChannel& m_channel;
    Clock& m_clock;
    JobEventSink& m_events;
    std::uint8_t m_buffer[kBufferSize] = {};
    std::size_t m_lastReadCount = 0;
};

}  // namespace quillon
