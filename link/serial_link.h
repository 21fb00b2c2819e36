#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/monitor_header.h"
#include "link/messages.h"
#include "platform/serial_device.h"

// The byte channel between the worker and the target: opens and configures the job's port,
// writes bytes, throws away stale input and waits for answers under a time-out. It has no
// framing of its own; the initialize and download jobs build their frames on it. Only the
// worker thread uses it.
// The log line of a port that cannot be opened.
constexpr const char* kUnableToOpenPortLine = "Unable to open COM port!";

// What a front end adds after a job whose last log line was `lastLogLine` on `port`: when the
// port could not be opened for lack of permission, the hint that says what to do; else empty.
std::string PortOpenHint(const std::string& lastLogLine, const std::string& port);

class SerialLink {
public:
    static constexpr std::size_t kBufferSize = 1024;

    // `header` is the worker's monitor header copy, for the flash type lookup.
    explicit SerialLink(const MonitorHeader& header) : m_header(header) {}

    // Closes the port still held, opens `job.strPort` and sets it to `job.nBaudRate`, 8N1.
    // Posts exactly one of "Unable to open COM port!", "Error initializing COM port!" and
    // "<port> initialized." to `job.hWndOwner`. A port that refused its settings stays open.
    bool OpenPort(const JobParams& job);
    void ClosePort() { m_hComm.Close(); }
    bool IsPortOpen() const { return m_hComm.IsOpen(); }

    // Reads and drops every byte waiting in the input queue.
    void DiscardInput();
    // One write for the whole stretch; the outcome is not examined (a failed write shows up
    // as a missing answer).
    void WriteBytes(const std::uint8_t* bytes, std::size_t count);
    // Sends the image bytes of `segment` from offset `first` up to `end` (exclusive, at most
    // 0x10000), each in a write of its own, through the first byte of the buffer.
    void WriteImageBytes(int segment, std::uint32_t first, std::uint32_t end);

    // Waits up to `timeoutMs` until `count` (1..1024) received bytes are queued and reads
    // them to the start of the buffer: exactly `count`, or with `readAll` everything queued
    // up to 1024. On a time-out the bytes that did arrive are consumed and shown on the debug
    // channel, and the result is false.
    bool WaitForResponse(std::uint32_t timeoutMs, std::size_t count, bool readAll);

    // True when `name` is one of the flash types of the monitor header copy.
    bool IsKnownFlashType(const std::string& name) const;

    // The I/O buffer: commands are built at its start, answers are read to its start.
    std::uint8_t* buffer() { return m_buffer; }
    // How many bytes the last WaitForResponse read into the buffer.
    std::size_t lastReadCount() const { return m_lastReadCount; }

private:
    const MonitorHeader& m_header;
    SerialDevice m_hComm;
    std::uint8_t m_buffer[kBufferSize] = {};
    std::size_t m_lastReadCount = 0;
};
