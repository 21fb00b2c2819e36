#include "link/serial_link.h"

#include <algorithm>

#include "image/image_memory.h"
#include "platform/debug_channel.h"
#include "platform/text_format.h"
#include "platform/ticks.h"

std::string PortOpenHint(const std::string& lastLogLine, const std::string& port) {
    return lastLogLine == kUnableToOpenPortLine ? SerialPortPermissionHint(port) : std::string();
}

bool SerialLink::OpenPort(const JobParams& job) {
    m_hComm.Close();
    if (!m_hComm.Open(job.strPort)) {
        PostLogLine(job.hWndOwner, kUnableToOpenPortLine);
        return false;
    }
    if (!m_hComm.Configure(static_cast<std::uint32_t>(job.nBaudRate))) {
        PostLogLine(job.hWndOwner, "Error initializing COM port!");
        return false;
    }
    PostLogLine(job.hWndOwner, FormatText("%s initialized.", job.strPort.c_str()));
    return true;
}

void SerialLink::DiscardInput() {
    while (const std::size_t queued = m_hComm.QueuedInput()) {
        m_hComm.Read(m_buffer, std::min(queued, kBufferSize));
    }
}

void SerialLink::WriteBytes(const std::uint8_t* bytes, std::size_t count) {
    m_hComm.Write(bytes, count);
}

void SerialLink::WriteImageBytes(int segment, std::uint32_t first, std::uint32_t end) {
    end = std::min(end, ImageMemory::kSegmentSize);
    for (std::uint32_t offset = first; offset < end; ++offset) {
        m_buffer[0] = g_imageMemory.Byte(segment, offset);
        m_hComm.Write(m_buffer, 1);
    }
}

bool SerialLink::WaitForResponse(std::uint32_t timeoutMs, std::size_t count, bool readAll) {
    count = std::clamp<std::size_t>(count, 1, kBufferSize);
    const std::uint32_t start = TickCountMs();
    std::size_t queued = 0;
    // The bytes taken so far first (no system call: an answer is mostly not there yet when
    // the wait begins), then the wait, which takes what arrives; the driver is asked once more
    // when the time is up.
    for (bool last = false;;) {
        queued = last ? m_hComm.QueuedInput() : m_hComm.BufferedInput();
        if (queued >= count) {
            m_lastReadCount =
                m_hComm.Read(m_buffer, readAll ? std::min(queued, kBufferSize) : count);
            return true;
        }
        if (last) {
            break;
        }
        const std::uint32_t elapsed = TickCountMs() - start;
        if (elapsed >= timeoutMs || !m_hComm.IsOpen() || m_hComm.IsGone()) {
            last = true;
            continue;
        }
        // Blocks in the OS until the bytes are there or the time is up: no polling loop.
        m_hComm.WaitForInput(count, timeoutMs - elapsed);
    }
    m_lastReadCount = 0;
    if (queued == 0) {
        return false;
    }
    const std::size_t got = m_hComm.Read(m_buffer, std::min(queued, kBufferSize));
    m_lastReadCount = got;
    std::string text = "WaitForResponse(): To few bytes";
    for (std::size_t i = 0; i < got; ++i) {
        text += FormatText(", %02X", static_cast<unsigned>(m_buffer[i]));
    }
    OutputDebugText(text);
    return false;
}

bool SerialLink::IsKnownFlashType(const std::string& name) const {
    return IsFlashTypeInHeader(m_header, name);
}
