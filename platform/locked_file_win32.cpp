#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>

#include "platform/lock_wait.h"
#include "platform/locked_file.h"
#include "platform/system_error.h"
#include "platform/utf8_path.h"
#include "platform/write_all.h"

namespace quillon {

namespace {

// The lock: one byte far beyond any content, so that it never stands in the way of a reader.
OVERLAPPED LockPlace() {
    OVERLAPPED place{};
    place.Offset = 0xFFFFFFFF;
    place.OffsetHigh = 0x7FFFFFFF;
    return place;
}

std::int64_t FileSize(HANDLE file) {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(file, &size) ? size.QuadPart : -1;
}

}  // namespace

struct LockedFile::Impl {
    HANDLE file = INVALID_HANDLE_VALUE;
};

LockedFile::LockedFile() : LockedFile(SystemClock()) {}

LockedFile::LockedFile(Clock& clock) : m_clock(clock), m_impl(std::make_unique<Impl>()) {}

LockedFile::~LockedFile() {
    Close();
}

void LockedFile::Close() {
    if (m_impl->file != INVALID_HANDLE_VALUE) {
        OVERLAPPED place = LockPlace();
        ::UnlockFileEx(m_impl->file, 0, 1, 0, &place);
        ::CloseHandle(m_impl->file);
        m_impl->file = INVALID_HANDLE_VALUE;
    }
}

Status LockedFile::Open(const std::string& path, std::chrono::milliseconds patience,
                        const std::function<bool()>& stopRequested) {
    Close();
    const std::wstring name = PathFromUtf8(path).wstring();
    const HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return Fail(ErrorKind::kIo, SystemErrorText(::GetLastError()));
    }
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        return Fail(ErrorKind::kUnsupported, "not a regular file");
    }
    Status locked = WaitForLock(
        [file]() -> Result<bool> {
            OVERLAPPED place = LockPlace();
            if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                             &place)) {
                return true;
            }
            const DWORD code = ::GetLastError();
            if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) {
                return false;
            }
            return Fail(ErrorKind::kIo, "cannot be locked (" + SystemErrorText(code) + ")");
        },
        patience, stopRequested, m_clock, "locked by another program");
    if (!locked) {
        ::CloseHandle(file);
        return locked;
    }
    m_impl->file = file;
    return {};
}

FileRead LockedFile::ReadAll(std::size_t limit) const {
    const HANDLE file = m_impl->file;
    const std::int64_t size = FileSize(file);
    std::int64_t at = 0;
    return ReadWithinLimit(
        static_cast<std::size_t>(std::min<unsigned long long>(size > 0 ? size : 0, limit + 1ull)),
        limit, LinkCount(), [file, &at](char* into, std::size_t room) -> Result<std::size_t> {
            OVERLAPPED place{};
            place.Offset = static_cast<DWORD>(at);
            place.OffsetHigh = static_cast<DWORD>(at >> 32);
            DWORD got = 0;
            if (!::ReadFile(file, into, static_cast<DWORD>(std::min<std::size_t>(room, 1u << 30)),
                            &got, &place)) {
                const DWORD code = ::GetLastError();
                if (code == ERROR_HANDLE_EOF) {
                    return 0;
                }
                return Fail(ErrorKind::kIo, SystemErrorText(code));
            }
            at += got;
            return static_cast<std::size_t>(got);
        });
}

std::uint64_t LockedFile::LinkCount() const {
    BY_HANDLE_FILE_INFORMATION information{};
    return ::GetFileInformationByHandle(m_impl->file, &information) ? information.nNumberOfLinks
                                                                    : 0;
}

Status LockedFile::Append(const std::string& text) {
    const HANDLE file = m_impl->file;
    const std::int64_t before = FileSize(file);
    if (before < 0) {
        return Fail(ErrorKind::kIo, SystemErrorText(::GetLastError()));
    }
    std::string error;
    LARGE_INTEGER end{};
    end.QuadPart = before;
    DWORD written = 0;
    bool ok = true;
    if (!::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) ||
        !::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        error = SystemErrorText(::GetLastError());
        ok = false;
    } else if (written != text.size()) {
        error = ShortWriteText(static_cast<std::size_t>(written), text.size());
        ok = false;
    } else if (!::FlushFileBuffers(file)) {
        error = SystemErrorText(::GetLastError());
        ok = false;
    }
    if (ok) {
        return {};
    }
    // What can still be saved: the file as it was. The write's error is what counts.
    ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
    ::SetEndOfFile(file);
    ::FlushFileBuffers(file);
    return Fail(ErrorKind::kIo, error);
}

}  // namespace quillon
