#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "helpers/result.h"

namespace quillon {

// The line between the host and the target as the jobs see it: bytes out, bytes in, and a
// wait for bytes in. A serial device is one (SerialChannel); tests put an in-memory line on a
// virtual clock in its place.
class ByteChannel {
public:
    virtual ~ByteChannel() = default;

    // Sends all `count` bytes; an error when the line failed or stopped taking them, saying
    // why in the system's words ("Input/output error", "it took no byte for 2 s", ...).
    [[nodiscard]] virtual Status Write(const std::uint8_t* bytes, std::size_t count) = 0;
    // How many received bytes wait to be read (asks the driver).
    virtual std::size_t Queued() = 0;
    // How many of them the channel holds already, without asking the driver; a channel that
    // keeps no bytes of its own answers as Queued().
    virtual std::size_t Buffered() { return Queued(); }
    // Reads up to `count` waiting bytes without blocking; returns how many it read.
    [[nodiscard]] virtual std::size_t Read(std::uint8_t* dest, std::size_t count) = 0;
    // Blocks until at least `count` bytes wait, the line has gone, or `timeoutMs` passed.
    virtual void WaitForInput(std::size_t count, std::uint32_t timeoutMs) = 0;
    // True once the line has gone for good (unplugged, hung up, closed by the far end).
    virtual bool IsGone() const = 0;

    // Reads and drops every byte that waits now.
    virtual void DiscardInput() {
        std::uint8_t scratch[256];
        while (Queued() > 0 && Read(scratch, sizeof scratch) > 0) {
        }
    }
};

// How opening a job's line went.
struct OpenedChannel {
    enum class Status {
        kOpened,
        kCannotOpen,       // missing, held by another program, no permission
        kCannotConfigure,  // it refused the line settings (it stays open all the same)
    };
    Status status = Status::kCannotOpen;
    std::unique_ptr<ByteChannel> channel;  // none when it could not be opened
    std::string reason;  // why not, in the system's few words ("not found", ...); may be empty
    // A line for the log once the line is open (a raw TCP port: its settings are the server's).
    std::string notice;
};

}  // namespace quillon
