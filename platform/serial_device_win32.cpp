#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/serial_device.h"

// The Windows backend keeps received bytes the way the POSIX one does: what the driver holds
// is moved into a pending buffer, and waiting is a ReadFile that returns as soon as one byte
// arrives (or the time is up), so a wait costs no CPU.

namespace {

HANDLE AsHandle(void* handle) {
    return static_cast<HANDLE>(handle);
}

// A write that makes no progress for this long gives up instead of hanging.
constexpr DWORD kWriteStallMs = 2000;

}  // namespace

SerialDevice::SerialDevice() : m_handle(INVALID_HANDLE_VALUE) {}

SerialDevice::~SerialDevice() {
    Close();
}

bool SerialDevice::Open(const std::string& name) {
    Close();
    // The \\.\ prefix reaches every COM port, COM10 and above included.
    const std::string path = name.rfind("\\\\.\\", 0) == 0 ? name : "\\\\.\\" + name;
    HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    m_handle = handle;
    m_gone = false;
    m_pending.clear();
    m_pendingStart = 0;
    return true;
}

bool SerialDevice::Configure(std::uint32_t baudRate) {
    if (!IsOpen()) {
        return false;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(AsHandle(m_handle), &dcb);  // the outcome is not needed: every field is set
    dcb.BaudRate = baudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
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
    dcb.XonChar = 0x0B;
    dcb.XoffChar = 0x0D;
    dcb.XonLim = 512;
    dcb.XoffLim = 512;
    dcb.EvtChar = static_cast<char>(0x83);
    if (!::SetCommState(AsHandle(m_handle), &dcb)) {
        return false;
    }
    ::SetCommMask(AsHandle(m_handle), EV_RXFLAG | EV_TXEMPTY);
    return true;
}

bool SerialDevice::IsOpen() const {
    return m_handle != INVALID_HANDLE_VALUE;
}

void SerialDevice::Close() {
    if (IsOpen()) {
        ::CloseHandle(AsHandle(m_handle));
        m_handle = INVALID_HANDLE_VALUE;
    }
    m_pending.clear();
    m_pendingStart = 0;
    m_gone = false;
}

// Reads into the pending buffer: with `waitMs` 0 only what is queued, otherwise waiting up to
// `waitMs` for the first byte.
static bool ReadWithTimeout(HANDLE handle, std::uint8_t* dest, DWORD count, DWORD waitMs,
                            DWORD& got) {
    COMMTIMEOUTS timeouts{};
    if (waitMs == 0) {
        timeouts.ReadIntervalTimeout = MAXDWORD;  // return at once with what is queued
    } else {
        // Return as soon as a byte is there, or after waitMs with nothing.
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = waitMs;
    }
    timeouts.WriteTotalTimeoutConstant = kWriteStallMs;
    ::SetCommTimeouts(handle, &timeouts);
    got = 0;
    return ::ReadFile(handle, dest, count, &got, nullptr) != FALSE;
}

void SerialDevice::Drain() {
    if (!IsOpen() || m_gone) {
        return;
    }
    if (m_pendingStart > 0 && m_pendingStart == m_pending.size()) {
        m_pending.clear();
        m_pendingStart = 0;
    }
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(AsHandle(m_handle), &errors, &status)) {
        m_gone = true;  // unplugged
        return;
    }
    if (status.cbInQue == 0) {
        return;
    }
    std::uint8_t chunk[4096];
    DWORD got = 0;
    const DWORD want = std::min<DWORD>(status.cbInQue, sizeof chunk);
    if (!ReadWithTimeout(AsHandle(m_handle), chunk, want, 0, got)) {
        m_gone = true;
        return;
    }
    m_pending.insert(m_pending.end(), chunk, chunk + got);
}

std::size_t SerialDevice::QueuedInput() {
    Drain();
    return m_pending.size() - m_pendingStart;
}

std::size_t SerialDevice::Read(std::uint8_t* dest, std::size_t count) {
    Drain();
    const std::size_t n = std::min(count, m_pending.size() - m_pendingStart);
    std::memcpy(dest, m_pending.data() + m_pendingStart, n);
    m_pendingStart += n;
    return n;
}

bool SerialDevice::Write(const std::uint8_t* bytes, std::size_t count) {
    if (!IsOpen()) {
        return false;
    }
    std::size_t done = 0;
    while (done < count) {
        DWORD put = 0;
        if (!::WriteFile(AsHandle(m_handle), bytes + done, static_cast<DWORD>(count - done), &put,
                         nullptr)) {
            return false;
        }
        if (put == 0) {
            return false;  // the write time-out passed without progress
        }
        done += put;
    }
    return true;
}

bool SerialDevice::WaitForInput(std::size_t count, std::uint32_t timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (QueuedInput() >= count) {
            return true;
        }
        if (!IsOpen() || m_gone) {
            return false;
        }
        const DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= timeoutMs) {
            return false;
        }
        std::uint8_t byte = 0;
        DWORD got = 0;
        if (!ReadWithTimeout(AsHandle(m_handle), &byte, 1, timeoutMs - elapsed, got)) {
            m_gone = true;
            return false;
        }
        if (got == 1) {
            m_pending.push_back(byte);
        }
    }
}
