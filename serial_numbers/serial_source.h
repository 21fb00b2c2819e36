#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "helpers/result.h"

namespace quillon {

// Where a production line's serial numbers come from. Each number is handed out once across
// every program that takes from the same files: taking holds a lock across processes and marks
// the number taken on the disk before it is returned, so a crash may skip a number but can
// never hand one out twice.
//
// Why no number can be taken, by the error's kind (its text names the file): kNotFound, the
// counter or list does not exist (the counter: no start given); kIo, a file cannot be read, is
// no regular file, or the number could not be marked taken on the disk (it was not given
// out); kRefused, a file that must not be used (a link to nothing, a file of several names,
// one larger than its bound); kInvalidData, a file holds something else than its numbers;
// kBusy, another program kept the lock the whole time; kExhausted, the list has no value left
// or the counter is at its end; kAborted, the stop request came while waiting for the lock.
// Who takes a number, for a source that keeps a row per number taken (a database).
struct SerialClaim {
    std::string host;
    std::string port;
    std::string runId;
    int board = 1;
};

class SerialSource {
public:
    // How long a take waits for another program's lock: a take holds it for milliseconds.
    static constexpr std::chrono::milliseconds kLockPatience{10000};

    virtual ~SerialSource() = default;
    // Looks, before any board starts, whether numbers can be taken at all: the files exist (or
    // can be made), can be read and hold what they should. The number a take would give now,
    // or why none. `stopRequested` ends a wait for the lock (or the database) early.
    [[nodiscard]] Result<std::uint64_t> Check(const std::function<bool()>& stopRequested = {}) {
        return Next(false, stopRequested, {});
    }
    // Takes the next number for `claim`. `stopRequested` ends a wait for the lock early.
    [[nodiscard]] Result<std::uint64_t> Take(const std::function<bool()>& stopRequested,
                                             const SerialClaim& claim = {}) {
        return Next(true, stopRequested, claim);
    }
    // True when a take that failed with kIo or kTimeout lost its source for a while (a server
    // that went away) and is worth trying again; a file's error stays what it is.
    virtual bool WorthRetrying(const Error& error) const {
        (void)error;
        return false;
    }

protected:
    // Locks, finds the next number; with `advance` also marks it taken for `claim`.
    [[nodiscard]] virtual Result<std::uint64_t> Next(bool advance,
                                                     const std::function<bool()>& stopRequested,
                                                     const SerialClaim& claim) = 0;
};

}  // namespace quillon
