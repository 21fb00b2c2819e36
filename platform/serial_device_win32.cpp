#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/serial_device.h"
#include "platform/system_error.h"
#include "platform/write_all.h"

namespace quillon {

// The Windows backend keeps received bytes the way the POSIX one does: what the driver holds
// is moved into a pending buffer. A wait is a ReadFile under a read time-out that returns as
// soon as one byte has arrived (or the time is up), so waiting blocks in the driver and costs
// no CPU.

namespace {

// A write that makes no progress for this long gives up instead of hanging.
constexpr DWORD kWriteStallMs = 2000;
// The read time-out of a freshly opened device is whatever its last user left.
constexpr std::uint32_t kReadWaitUnknown = 0xFFFFFFFFu;
// Longer waits are made of several reads of at most this long.
constexpr std::uint32_t kLongestReadWaitMs = 0x7FFFFFFFu;

// Why a port could not be opened or set up, in the operator's words.
Unexpected<Error> OpenError(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
            return Fail(ErrorKind::kNotFound, "not found");
        case ERROR_ACCESS_DENIED:  // what a COM port held by another program answers
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return Fail(ErrorKind::kBusy, "busy (another program has it)");
        case ERROR_INVALID_FUNCTION:
        case ERROR_NOT_SUPPORTED:
            return Fail(ErrorKind::kUnsupported, "not a serial device");
        default:
            return Fail(ErrorKind::kIo, "system error " + std::to_string(error));
    }
}

}  // namespace

std::string SerialPortPermissionHint(const std::string&) {
    return {};  // a port that cannot be opened is in use or missing, never a group question
}

struct SerialDevice::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::uint32_t readWaitMs = kReadWaitUnknown;  // the read time-out the device has now

    // Sets the read time-out: 0 returns at once with what is queued, otherwise a read waits
    // up to `waitMs` for the first byte. False when the device refuses.
    [[nodiscard]] bool SetReadWait(std::uint32_t waitMs);
};

SerialDevice::SerialDevice() : SerialDevice(SystemClock()) {}

SerialDevice::SerialDevice(Clock& clock) : m_clock(clock), m_impl(std::make_unique<Impl>()) {}

SerialDevice::~SerialDevice() {
    Close();
}

Status SerialDevice::Open(const std::string& name) {
    Close();
    // The \\.\ prefix reaches every COM port, COM10 and above included.
    const std::string path = name.rfind("\\\\.\\", 0) == 0 ? name : "\\\\.\\" + name;
    // Read and write, no sharing, only an existing device, plain synchronous I/O.
    HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return OpenError(::GetLastError());
    }
    m_impl->handle = handle;
    m_impl->readWaitMs = kReadWaitUnknown;
    m_gone = false;
    m_pending.Clear();
    // Reads return at once from here on; a device that is no serial port refuses, which
    // Configure then reports with the system's reason.
    static_cast<void>(m_impl->SetReadWait(0));
    return {};
}

Status SerialDevice::Configure(BaudRate baudRate) {
    if (!IsOpen()) {
        return Fail(ErrorKind::kFailed, "not open");
    }
    const HANDLE handle = m_impl->handle;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(handle, &dcb);  // the outcome is not needed: every field is set
    dcb.BaudRate = baudRate.bitsPerSecond;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;  // raw: no end-of-file character
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    // Carried along, without effect while software flow control is off.
    dcb.XonChar = 0x0B;
    dcb.XoffChar = 0x0D;
    dcb.XonLim = 512;
    dcb.XoffLim = 512;
    dcb.EvtChar = static_cast<char>(0x83);
    // The rate as given: the driver picks its divider, or refuses. What it set is read back,
    // as a driver may round the rate to one its clock makes.
    const bool set = ::SetCommState(handle, &dcb) != 0;
    const DWORD error = set ? ERROR_SUCCESS : ::GetLastError();
    if (!set && error != ERROR_INVALID_PARAMETER) {
        return OpenError(error);
    }
    DCB holds{};
    holds.DCBlength = sizeof holds;
    if (!::GetCommState(handle, &holds)) {
        return OpenError(::GetLastError());
    }
    if (Status close = CheckBaudRateSet(baudRate, holds.BaudRate); !close) {
        return close;
    }
    if (!set) {
        return Fail(ErrorKind::kUnsupported, "baud rate " + BaudRateText(baudRate) + " refused");
    }
    // Event character received and transmit queue empty; no event is ever waited for.
    ::SetCommMask(handle, EV_RXFLAG | EV_TXEMPTY);
    if (!m_impl->SetReadWait(0)) {
        return OpenError(::GetLastError());
    }
    return {};
}

bool SerialDevice::IsOpen() const {
    return m_impl->handle != INVALID_HANDLE_VALUE;
}

void SerialDevice::Close() {
    if (IsOpen()) {
        ::CloseHandle(m_impl->handle);
        m_impl->handle = INVALID_HANDLE_VALUE;
    }
    m_impl->readWaitMs = kReadWaitUnknown;
    m_pending.Clear();
    m_gone = false;
}

bool SerialDevice::Impl::SetReadWait(std::uint32_t waitMs) {
    if (waitMs == readWaitMs) {
        return true;
    }
    COMMTIMEOUTS timeouts{};
    // MAXDWORD alone: return at once with what is queued. With the multiplier MAXDWORD as
    // well: return as soon as a byte is there, or after the constant with nothing.
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = waitMs == 0 ? 0 : MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = waitMs;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = kWriteStallMs;
    if (!::SetCommTimeouts(handle, &timeouts)) {
        readWaitMs = kReadWaitUnknown;
        return false;
    }
    readWaitMs = waitMs;
    return true;
}

void SerialDevice::Drain() {
    if (!IsOpen() || m_gone) {
        return;
    }
    std::uint8_t chunk[4096];
    while (m_pending.size() < PendingInput::kLimit) {
        DWORD errors = 0;
        COMSTAT status{};
        // Also clears the error state (overrun, framing) that would block further reads.
        if (!::ClearCommError(m_impl->handle, &errors, &status)) {
            m_gone = true;  // unplugged, or no serial device at all
            return;
        }
        if (status.cbInQue == 0) {
            return;
        }
        const std::size_t room = m_pending.room();
        const DWORD want =
            static_cast<DWORD>(std::min<std::size_t>({status.cbInQue, sizeof chunk, room}));
        DWORD got = 0;
        if (!m_impl->SetReadWait(0) || !::ReadFile(m_impl->handle, chunk, want, &got, nullptr)) {
            m_gone = true;
            return;
        }
        if (got == 0) {
            return;
        }
        m_pending.Append(chunk, static_cast<std::size_t>(got));
    }
}

Status SerialDevice::Write(const std::uint8_t* bytes, std::size_t count) {
    if (!IsOpen()) {
        return Fail(ErrorKind::kFailed, "not open");
    }
    const HANDLE handle = m_impl->handle;
    // The driver's write time-out is the stall limit: a write that took nothing ended on it.
    StalledWrite device;
    device.writeSome = [handle](const std::uint8_t* part, std::size_t size) -> Result<std::size_t> {
        DWORD put = 0;
        if (!::WriteFile(handle, part, static_cast<DWORD>(std::min<std::size_t>(size, 0x10000000)),
                         &put, nullptr)) {
            return Fail(ErrorKind::kIo, SystemErrorText(::GetLastError()));
        }
        return static_cast<std::size_t>(put);
    };
    device.waitWritable = [](int) -> Result<bool> { return false; };
    device.stallMs = static_cast<int>(kWriteStallMs);
    device.stallText = "it took no byte for 2 s";
    return Written(WriteAllWithStallLimit(bytes, count, device));
}

bool SerialDevice::WaitForInput(std::size_t count, std::uint32_t timeoutMs) {
    const std::uint64_t start = m_clock.NowMs();
    for (;;) {
        if (QueuedInput() >= count) {
            return true;
        }
        if (!IsOpen() || m_gone) {
            return false;
        }
        const std::uint64_t elapsed = m_clock.NowMs() - start;
        if (elapsed >= timeoutMs) {
            return false;
        }
        if (m_pending.size() >= PendingInput::kLimit) {
            return false;  // the pending buffer is full and still holds fewer than `count`
        }
        // Blocks in the driver until one byte is there or the rest of the time is up; the
        // bytes that come with it are taken by the next round. A read of exactly one byte
        // ends as soon as it has arrived everywhere: some serial drivers (Wine's among them)
        // wait out the whole time-out for a larger read that is only partly satisfied.
        std::uint8_t byte = 0;
        DWORD got = 0;
        const auto left = static_cast<std::uint32_t>(timeoutMs - elapsed);
        if (!m_impl->SetReadWait(std::min<std::uint32_t>(left, kLongestReadWaitMs)) ||
            !::ReadFile(m_impl->handle, &byte, 1, &got, nullptr)) {
            m_gone = true;
            return false;
        }
        if (got == 1) {
            m_pending.Append(&byte, 1);
        }
    }
}

}  // namespace quillon
