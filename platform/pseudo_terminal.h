#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "helpers/result.h"

namespace quillon {

// The target's end of a serial line: the master side of a pseudo-terminal, whose slave device
// the host opens as its serial port. The line keeps a slave descriptor of its own, so that the
// master never sees the slave closed (no EIO while no host is connected) and the raw settings
// stay. It watches the slave device node for opens and closes to know whether a host is
// connected; when the last host closes, it clears the host's exclusive-use mark (a pseudo-
// terminal keeps it, unlike a real port, and a host that is not root could not open the line
// again) and drops what the host never read. The master does not block.
class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // A new line (closing the one open before).
    [[nodiscard]] Status Open();
    void Close();

    const std::string& slavePath() const { return m_slavePath; }

    // Writes what the master takes of `bytes` now: how many it took, 0 when the line has no
    // room (wait for LineWait's writable news), an error when the bytes cannot go out at all.
    [[nodiscard]] Result<std::size_t> Write(const std::uint8_t* bytes, std::size_t count);
    // Reads what the host sent, up to `room` bytes: 0 when nothing waits; an error of kind
    // kIo while no slave is open on the line (ask again a little later rather than spin).
    [[nodiscard]] Result<std::size_t> Read(std::uint8_t* buffer, std::size_t room);

    // Reads the pending open/close notices of the slave device node; true when the last host
    // closed the line at least once since the previous call (it may have opened it again).
    bool ReadHostChanges();
    int hostOpenCount() const { return m_hostOpens; }
    // Bytes written to the line that the host has not read yet.
    std::size_t UnreadByHost() const;
    // The rate the host set on the line (its output rate, as the driver holds it).
    [[nodiscard]] Result<std::uint32_t> HostLineSpeed() const;

    // For LineWait: the master's descriptor and the device node watch's (-1 without one).
    int masterDescriptor() const { return m_master; }
    int watchDescriptor() const { return m_watch; }

private:
    void ReleaseHost();

    int m_master = -1;
    int m_heldSlave = -1;
    int m_watch = -1;
    int m_hostOpens = 0;
    std::string m_slavePath;
};

}  // namespace quillon
