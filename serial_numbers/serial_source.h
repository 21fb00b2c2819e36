#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace quillon {

// How taking a serial number ended.
enum class SerialTakeError {
    kNone,
    kMissing,     // the counter file or the list does not exist (the counter: no start given)
    kUnreadable,  // a file cannot be read, or is no regular file
    kRefused,     // a file that must not be used: a link to nothing, a file of several names
                  // (hard links), one larger than its bound
    kMalformed,   // a file holds something else than its numbers
    kLocked,      // another program kept the lock the whole time
    kUsedUp,      // the list has no value left; the counter is at its end
    kUnwritable,  // the number could not be marked taken on the disk (it was not given out)
    kStopped,     // the stop request came while waiting for the lock
};

// A serial number taken, or why none was.
struct [[nodiscard]] SerialTake {
    std::uint64_t value = 0;
    SerialTakeError error = SerialTakeError::kNone;
    std::string text;  // the reason, naming the file
    bool ok() const { return error == SerialTakeError::kNone; }
};

// Where a production line's serial numbers come from. Each number is handed out once across
// every program that takes from the same files: taking holds a lock across processes and marks
// the number taken on the disk before it is returned, so a crash may skip a number but can
// never hand one out twice.
class SerialSource {
public:
    // How long a take waits for another program's lock: a take holds it for milliseconds.
    static constexpr std::chrono::milliseconds kLockPatience{10000};

    virtual ~SerialSource() = default;
    // Looks, before any board starts, whether numbers can be taken at all: the files exist (or
    // can be made), can be read and hold what they should. The reason when not.
    [[nodiscard]] virtual SerialTake Check() = 0;
    // Takes the next number. `stopRequested` ends a wait for the lock early.
    [[nodiscard]] virtual SerialTake Take(const std::function<bool()>& stopRequested) = 0;
};

}  // namespace quillon
