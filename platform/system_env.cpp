#include "platform/system_env.h"

namespace quillon {

SystemEnv::SystemEnv() : SystemEnv(SystemClock()) {}

SystemEnv::SystemEnv(Clock& clock) : m_clock(clock) {}

SystemEnv& SystemEnv::Default() {
    static SystemEnv system;
    return system;
}

Result<std::unique_ptr<SerialDevice>> SystemEnv::OpenSerialDevice(const std::string& name) {
    auto device = std::make_unique<SerialDevice>(m_clock);
    if (Status opened = device->Open(name); !opened) {
        return Fail(std::move(opened).error());
    }
    return device;
}

Result<std::unique_ptr<TcpSocket>> SystemEnv::ConnectTcp(const std::string& host,
                                                         std::uint16_t port,
                                                         std::uint32_t timeoutMs,
                                                         const std::function<bool()>& stop) {
    auto socket = std::make_unique<TcpSocket>(m_clock);
    if (Status connected = socket->Connect(host, port, timeoutMs, stop); !connected) {
        return Fail(std::move(connected).error());
    }
    return socket;
}

Result<std::unique_ptr<LockedFile>> SystemEnv::LockFile(const std::string& path,
                                                        std::chrono::milliseconds patience,
                                                        const std::function<bool()>& stop) {
    auto file = std::make_unique<LockedFile>(m_clock);
    if (Status locked = file->Open(path, patience, stop); !locked) {
        return Fail(std::move(locked).error());
    }
    return file;
}

}  // namespace quillon
