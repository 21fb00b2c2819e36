#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "helpers/pending_input.h"
#include "platform/baud_rate.h"

namespace quillon {

// When the device `name` exists but this user may not open it for reading and writing, the
// hint that says what to do (on Linux the usual reason why a port cannot be opened: the user
// is not in the device's group); else empty. Always empty on Windows.
std::string SerialPortPermissionHint(const std::string& name);

#ifndef _WIN32
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
#endif

// A serial port opened exclusively for reading and writing, raw 8N1 without flow control,
// DTR and RTS on. Reads never block; Write returns once the driver has taken the bytes;
// WaitForInput blocks in the operating system until enough bytes have arrived or the time is
// up, so waiting costs no CPU.
//
// POSIX: a tty device (/dev/ttyUSB0, a pseudo-terminal, ...). Windows: a COM port ("COM3";
// opened as \\.\COM3 so that COM10 and above work too).
class SerialDevice {
public:
    SerialDevice();
    ~SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens the named device if it exists and nobody else holds it; false otherwise. A device
    // still open here is closed first.
    [[nodiscard]] bool Open(const std::string& name);
    // Sets the baud rate and the fixed line settings; false when the device refuses them (or
    // is not a serial device at all). The device stays open either way.
    [[nodiscard]] bool Configure(BaudRate baudRate);
    // Why the last Open, Configure or Write failed, in the system's few words for the operator
    // ("not found", "busy (another program has it)", "permission denied", "not a serial
    // device", "Input/output error", ...); empty after an Open or Configure that succeeded.
    const std::string& ErrorText() const { return m_errorText; }
    bool IsOpen() const;
    void Close();

    // Number of received bytes waiting to be read (0 when closed or gone).
    [[nodiscard]] std::size_t QueuedInput();
    // The bytes already taken from the driver and not yet read, without asking the driver:
    // no system call. WaitForInput takes new ones.
    std::size_t BufferedInput() const { return m_pending.size(); }
    // Reads up to `count` waiting bytes without blocking; returns how many it read.
    [[nodiscard]] std::size_t Read(std::uint8_t* dest, std::size_t count);
    // Writes all bytes; false when the device failed or stopped taking bytes for too long
    // (ErrorText says which).
    [[nodiscard]] bool Write(const std::uint8_t* bytes, std::size_t count);
    // Blocks until at least `count` bytes are waiting, the device has gone away (unplugged,
    // hung up) or `timeoutMs` has passed. Returns true when `count` bytes are waiting.
    bool WaitForInput(std::size_t count, std::uint32_t timeoutMs);
    // True once the device has hung up or failed; it stays so until the next Open.
    bool IsGone() const { return m_gone; }

private:
    // Moves what the driver holds into the pending buffer.
    void Drain();

#ifdef _WIN32
    // Sets the read time-out: 0 returns at once with what is queued, otherwise a read waits
    // up to `waitMs` for the first byte. False when the device refuses.
    [[nodiscard]] bool SetReadWait(std::uint32_t waitMs);

    void* m_handle;
    std::uint32_t m_readWaitMs;  // the read time-out the device has now (kept to skip calls)
#else
    // Asks the driver to report the device readable only once `count` (1..255) bytes wait
    // (VMIN); kept when the device refuses.
    void SetWakeCount(std::size_t count);

    int m_fd = -1;
    std::size_t m_wakeCount = 1;  // the VMIN the device has now
#endif
    // Bytes taken from the driver but not yet read by the caller, oldest first.
    PendingInput m_pending;
    bool m_gone = false;
    std::string m_errorText;
};

}  // namespace quillon
