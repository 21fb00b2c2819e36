#include "link/target_line.h"

#include <algorithm>
#include <limits>

#include "helpers/text_format.h"

namespace quillon {

Status TargetLine::WriteEachByte(const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        m_buffer[0] = bytes[i];
        if (Status written = m_channel.Write(m_buffer, 1); !written) {
            return written;
        }
    }
    return {};
}

bool TargetLine::WaitForResponse(std::uint32_t timeoutMs, std::size_t count, bool readAll) {
    count = std::clamp<std::size_t>(count, 1, kBufferSize);
    const std::uint64_t start = m_clock.NowMs();
    std::size_t queued = 0;
    // The bytes taken so far first (no system call: an answer is mostly not there yet when
    // the wait begins), then the wait, which takes what arrives; the driver is asked once more
    // when the time is up.
    for (bool last = false;;) {
        queued = last ? m_channel.Queued() : m_channel.Buffered();
        if (queued >= count) {
            m_lastReadCount =
                m_channel.Read(m_buffer, readAll ? std::min(queued, kBufferSize) : count);
            return true;
        }
        if (last) {
            break;
        }
        const std::uint64_t elapsed = m_clock.NowMs() - start;
        if (elapsed >= timeoutMs || m_channel.IsGone()) {
            last = true;
            continue;
        }
        // Blocks until the bytes are there or the time is up: no polling loop.
        m_channel.WaitForInput(count, static_cast<std::uint32_t>(timeoutMs - elapsed));
    }
    m_lastReadCount = 0;
    if (queued == 0) {
        return false;
    }
    const std::size_t got = m_channel.Read(m_buffer, std::min(queued, kBufferSize));
    m_lastReadCount = got;
    std::string text = "WaitForResponse(): To few bytes";
    for (std::size_t i = 0; i < got; ++i) {
        text += FormatText(", %02X", static_cast<unsigned>(m_buffer[i]));
    }
    m_events.OnJobEvent(JobEvent::Debug(text));
    return false;
}

std::size_t TargetLine::ReadArrived(std::uint64_t deadlineMs, std::size_t count, std::size_t most) {
    count = std::clamp<std::size_t>(count, 1, kBufferSize);
    most = std::clamp<std::size_t>(most, count, kBufferSize);
    // As WaitForResponse: what was taken already first, then the wait, and the driver asked
    // once more when the time is up.
    for (bool last = false;;) {
        const std::size_t queued = last ? m_channel.Queued() : m_channel.Buffered();
        if (queued >= count || (last && queued > 0)) {
            m_lastReadCount = m_channel.Read(m_buffer, std::min(queued, most));
            return m_lastReadCount;
        }
        if (last) {
            break;
        }
        const std::uint64_t now = m_clock.NowMs();
        if (now >= deadlineMs || m_channel.IsGone()) {
            last = true;
            continue;
        }
        const std::uint64_t left =
            std::min<std::uint64_t>(deadlineMs - now, std::numeric_limits<std::uint32_t>::max());
        m_channel.WaitForInput(count, static_cast<std::uint32_t>(left));
    }
    m_lastReadCount = 0;
    return 0;
}

}  // namespace quillon
