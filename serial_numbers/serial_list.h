#pragma once

#include <vector>

#include "serial_numbers/serial_source.h"

namespace quillon {

// Serial numbers from a list: a text file of one value per line (decimal, or 0x hexadecimal;
// blank lines are passed over), handed out in order. Each value taken is appended to FILE.used
// (one write, flushed to the disk) under that file's lock before it is returned; a value that
// FILE.used holds is never taken again, by any program. A list reached through a symbolic link
// is read where it lies, its FILE.used beside it there; a link to nothing, a list or FILE.used
// of several names (hard links) and one larger than kSerialListLimit are refused.
class SerialList : public SerialSource {
public:
    explicit SerialList(std::string path, std::chrono::milliseconds lockPatience = kLockPatience)
        : m_path(std::move(path)), m_lockPatience(lockPatience) {}

    // The list's values, in order, once Check or Take has read it.
    const std::vector<std::uint64_t>& values() const { return m_values; }

private:
    // Reads the list once: a value given twice is refused (it could go into two boards).
    [[nodiscard]] Status ReadList();
    // Reads the list and FILE.used (made if need be) under its lock, finds the next value;
    // with `advance` also marks it taken.
    [[nodiscard]] Result<std::uint64_t> Next(bool advance,
                                             const std::function<bool()>& stopRequested,
                                             const SerialClaim& claim) override;

    std::string m_path;
    std::string m_real;  // where the list lies, links followed (once read)
    std::chrono::milliseconds m_lockPatience;
    std::vector<std::uint64_t> m_values;
    std::vector<std::string> m_texts;  // each value as the list writes it
    bool m_read = false;
};

}  // namespace quillon
