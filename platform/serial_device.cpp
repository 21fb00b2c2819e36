#include "platform/serial_device.h"

namespace quillon {

// What both backends share: reads come from the pending buffer, which Drain fills from the
// driver without blocking.

std::size_t SerialDevice::QueuedInput() {
    Drain();
    return m_pending.size();
}

std::size_t SerialDevice::Read(std::uint8_t* dest, std::size_t count) {
    // What a caller counted just before is here already: no system call for it.
    if (m_pending.size() < count) {
        Drain();
    }
    return m_pending.Take(dest, count);
}

}  // namespace quillon
