#pragma once

#include <memory>
#include <string>

#include "link/byte_channel.h"
#include "link/line_settings.h"
#include "platform/serial_device.h"
#include "platform/system_env.h"

namespace quillon {

// A ByteChannel over a local serial port.
class SerialChannel : public ByteChannel {
public:
    // The channel over the open device `device`.
    explicit SerialChannel(std::unique_ptr<SerialDevice> device) : m_device(std::move(device)) {}

    [[nodiscard]] Status Write(const std::uint8_t* bytes, std::size_t count) override {
        return m_device->Write(bytes, count);
    }
    std::size_t Queued() override { return m_device->QueuedInput(); }
    std::size_t Buffered() override { return m_device->BufferedInput(); }
    [[nodiscard]] std::size_t Read(std::uint8_t* dest, std::size_t count) override {
        return m_device->Read(dest, count);
    }
    void WaitForInput(std::size_t count, std::uint32_t timeoutMs) override {
        // Whether enough came is for the caller to count; the wait only ends on it.
        if (!m_device->WaitForInput(count, timeoutMs)) {
            return;
        }
    }
    bool IsGone() const override { return !m_device->IsOpen() || m_device->IsGone(); }

private:
    std::unique_ptr<SerialDevice> m_device;
};

// Opens `line.port` as a local serial port of `env` and sets it to `line.baud`, 8N1; its waits
// are timed by the environment's clock (`env` must outlive the channel).
[[nodiscard]] OpenedChannel OpenSerialChannel(const LineSettings& line, SystemEnv& env);
// The same on the system's own devices and clock.
[[nodiscard]] OpenedChannel OpenSerialChannel(const LineSettings& line);

}  // namespace quillon
