#pragma once

#include <optional>

#include "serial_numbers/serial_source.h"

namespace quillon {

// Serial numbers from a counter file: a text file holding the next number (decimal, or 0x
// hexadecimal). Each take locks FILE.lock, reads the number, and replaces the file by one
// holding the number after it (through FILE.new, flushed, renamed, the folder flushed) before
// the number is returned. A counter reached through a symbolic link is taken where it lies; a
// link to nothing, a counter of several names (hard links) and one larger than
// kSerialCounterLimit are refused.
class SerialCounter : public SerialSource {
public:
    // What a take does when nothing has the counter's name.
    enum class Missing {
        kCreate,  // starts at `start`, when given (a run of one board)
        // Refused: a production run takes from an existing counter only, since a share that is
        // not mounted can leave an empty folder in its place, where a counter made anew would
        // hand out numbers that were given already.
        kRefuse,
    };

    SerialCounter(std::string path, std::optional<std::uint64_t> start,
                  std::chrono::milliseconds lockPatience = kLockPatience,
                  Missing missing = Missing::kCreate)
        : m_path(std::move(path)),
          m_start(start),
          m_lockPatience(lockPatience),
          m_missing(missing) {}

private:
    // Locks, reads the next number; with `advance` also writes the one after it.
    [[nodiscard]] Result<std::uint64_t> Next(bool advance,
                                             const std::function<bool()>& stopRequested,
                                             const SerialClaim& claim) override;
    // The number the counter file `real` holds (the start where nothing has its name, when
    // the counter may be made); the caller holds the lock.
    [[nodiscard]] Result<std::uint64_t> ReadCounter(const std::string& real,
                                                    const std::string& name) const;

    std::string m_path;
    std::optional<std::uint64_t> m_start;
    std::chrono::milliseconds m_lockPatience;
    Missing m_missing;
};

}  // namespace quillon
