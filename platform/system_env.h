#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "helpers/result.h"
#include "platform/clock.h"
#include "platform/locked_file.h"
#include "platform/serial_device.h"
#include "platform/tcp_socket.h"

namespace quillon {

// What the system gives the jobs and their lines, in one object that is handed down: the
// clock every wait is timed by, opening serial devices, connecting to TCP ports and taking
// file locks. The programs use the system's own; a test derives from it to put a virtual
// clock or a device that fails in its place.
class SystemEnv {
public:
    // The system's devices and its monotonic clock.
    SystemEnv();
    // The system's devices, their waits timed by `clock` (which must outlive this).
    explicit SystemEnv(Clock& clock);
    virtual ~SystemEnv() = default;
    SystemEnv(const SystemEnv&) = delete;
    SystemEnv& operator=(const SystemEnv&) = delete;

    // The system's own, for the programs.
    static SystemEnv& Default();

    Clock& clock() const { return m_clock; }

    // Opens the local serial port `name` (see SerialDevice::Open).
    [[nodiscard]] virtual Result<std::unique_ptr<SerialDevice>> OpenSerialDevice(
        const std::string& name);
    // Connects to `port` of `host` within `timeoutMs`, until `stop` says so (see
    // TcpSocket::Connect).
    [[nodiscard]] virtual Result<std::unique_ptr<TcpSocket>> ConnectTcp(
        const std::string& host, std::uint16_t port, std::uint32_t timeoutMs,
        const std::function<bool()>& stop);
    // Opens the file at `path` and takes its lock, waiting up to `patience` (see
    // LockedFile::Open).
    [[nodiscard]] virtual Result<std::unique_ptr<LockedFile>> LockFile(
        const std::string& path, std::chrono::milliseconds patience,
        const std::function<bool()>& stop);

private:
    Clock& m_clock;
};

}  // namespace quillon
