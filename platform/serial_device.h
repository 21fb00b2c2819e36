#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "helpers/pending_input.h"
#include "helpers/result.h"
#include "platform/baud_rate.h"
#include "platform/clock.h"

namespace quillon {

// When the device `name` exists but this user may not open it for reading and writing, the
// hint that says what to do (on Linux the usual reason why a port cannot be opened: the user
// is not in the device's group); else empty. Always empty on Windows.
std::string SerialPortPermissionHint(const std::string& name);

// What SerialPortPermissionHint learns about a device this user may not open.
struct SerialPortAccess {
    std::uint32_t mode = 0;    // the device's type and permission bits (st_mode)
    std::string ownerName;     // its owner's name, else the number
    std::string groupName;     // its group's name, else the number
    std::uint32_t gid = 0;     // its group
    bool userIsOwner = false;  // then the owner's bits apply, never the group's
    bool groupMayReadWrite = false;
    bool userInGroupDatabase = false;  // a member, or the user's primary group, per the database
    bool userInGroupNow = false;       // among this process's groups
};

// The hint for the device `name` that this user may not open. The group is only worth joining
// when it may read and write the device and is not root's own (advising to join that would
// hand out the whole system); a user who joined it already needs a new login; anything else
// is for the administrator, told what stands in the way.
std::string SerialPortPermissionAdvice(const std::string& name, const SerialPortAccess& access);

// A serial port opened exclusively for reading and writing, raw 8N1 without flow control,
// DTR and RTS on. Reads never block; Write returns once the driver has taken the bytes;
// WaitForInput blocks in the operating system until enough bytes have arrived or the time is
// up, so waiting costs no CPU; its deadline is kept on the clock it was given.
//
// POSIX: a tty device (/dev/ttyUSB0, a pseudo-terminal, ...). Windows: a COM port ("COM3";
// opened as \\.\COM3 so that COM10 and above work too).
class SerialDevice {
public:
    // A device whose waits are timed by the system's monotonic clock.
    SerialDevice();
    // A device whose waits are timed by `clock` (which must outlive it).
    explicit SerialDevice(Clock& clock);
    ~SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens the named device if it exists and nobody else holds it. The error says why not,
    // in the system's few words for the operator ("not found", "busy (another program has
    // it)", "permission denied", ...). A device still open here is closed first.
    [[nodiscard]] Status Open(const std::string& name);
    // Sets the baud rate and the fixed line settings; an error when the device refuses them
    // ("not a serial device", "baud rate 1234 not supported", ...). The device stays open
    // either way.
    [[nodiscard]] Status Configure(BaudRate baudRate);
    bool IsOpen() const;
    void Close();

    // Number of received bytes waiting to be read (0 when closed or gone).
    [[nodiscard]] std::size_t QueuedInput();
    // The bytes already taken from the driver and not yet read, without asking the driver:
    // no system call. WaitForInput takes new ones.
    std::size_t BufferedInput() const { return m_pending.size(); }
    // Reads up to `count` waiting bytes without blocking; returns how many it read.
    [[nodiscard]] std::size_t Read(std::uint8_t* dest, std::size_t count);
    // Writes all bytes; an error when the device failed ("Input/output error", "hung up") or
    // stopped taking bytes for too long (kTimeout, "it took no byte for 2 s").
    [[nodiscard]] Status Write(const std::uint8_t* bytes, std::size_t count);
    // Blocks until at least `count` bytes are waiting, the device has gone away (unplugged,
    // hung up) or `timeoutMs` has passed. Returns true when `count` bytes are waiting.
    bool WaitForInput(std::size_t count, std::uint32_t timeoutMs);
    // True once the device has hung up or failed; it stays so until the next Open.
    bool IsGone() const { return m_gone; }

private:
    // What the system keeps of an open device (its descriptor or handle, its settings).
    struct Impl;

    // Moves what the driver holds into the pending buffer.
    void Drain();
    // How a failed write leaves the device: gone, unless it only stalled.
    Status Written(Status written);

    Clock& m_clock;
    std::unique_ptr<Impl> m_impl;
    // Bytes taken from the driver but not yet read by the caller, oldest first.
    PendingInput m_pending;
    bool m_gone = false;
};

}  // namespace quillon
