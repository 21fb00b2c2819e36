#pragma once

#include <memory>
#include <string>

#include "link/byte_channel.h"
#include "link/line_settings.h"
#include "platform/serial_device.h"

namespace quillon {

// A ByteChannel over a local serial port.
class SerialChannel : public ByteChannel {
public:
    // A channel whose waits are timed by `clock` (which must outlive it).
    explicit SerialChannel(Clock& clock) : m_device(clock) {}

    [[nodiscard]] Status Write(const std::uint8_t* bytes, std::size_t count) override {
        return m_device.Write(bytes, count);
    }
    std::size_t Queued() override { return m_device.QueuedInput(); }
    std::size_t Buffered() override { return m_device.BufferedInput(); }
    [[nodiscard]] std::size_t Read(std::uint8_t* dest, std::size_t count) override {
        return m_device.Read(dest, count);
    }
    void WaitForInput(std::size_t count, std::uint32_t timeoutMs) override {
        m_device.WaitForInput(count, timeoutMs);
    }
    bool IsGone() const override { return !m_device.IsOpen() || m_device.IsGone(); }

    SerialDevice& device() { return m_device; }

private:
    SerialDevice m_device;
};

// Opens `line.port` as a local serial port and sets it to `line.baud`, 8N1; its waits are
// timed by `clock` (which must outlive the channel).
[[nodiscard]] OpenedChannel OpenSerialChannel(const LineSettings& line,
                                              Clock& clock = SystemClock());

}  // namespace quillon
