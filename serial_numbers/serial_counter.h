#pragma once

#include <optional>

#include "serial_numbers/serial_source.h"

namespace quillon {

// Serial numbers from a counter file: a text file holding the next number (decimal, or 0x
// hexadecimal). Each take locks FILE.lock, reads the number, and replaces the file by one
// holding the number after it (through FILE.new, flushed, renamed, the folder flushed) before
// the number is returned. A missing file starts at `start`, when given.
class SerialCounter : public SerialSource {
public:
    SerialCounter(std::string path, std::optional<std::uint64_t> start,
                  std::chrono::milliseconds lockPatience = kLockPatience)
        : m_path(std::move(path)), m_start(start), m_lockPatience(lockPatience) {}

    SerialTake Check() override;
    SerialTake Take(const std::function<bool()>& stopRequested) override;

private:
    // Locks, reads the next number; with `advance` also writes the one after it.
    SerialTake Next(bool advance, const std::function<bool()>& stopRequested);

    std::string m_path;
    std::optional<std::uint64_t> m_start;
    std::chrono::milliseconds m_lockPatience;
};

}  // namespace quillon
