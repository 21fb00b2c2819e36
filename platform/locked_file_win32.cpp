#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <thread>

#include "platform/locked_file.h"
#include "platform/system_error.h"
#include "platform/utf8_path.h"

namespace quillon {

namespace {

constexpr auto kLockRetry = std::chrono::milliseconds(5);

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

LockedFile::~LockedFile() {
    Close();
}

void LockedFile::Close() {
    if (m_file != INVALID_HANDLE_VALUE) {
        OVERLAPPED place = LockPlace();
        ::UnlockFileEx(m_file, 0, 1, 0, &place);
        ::CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }
}

LockedFile::Outcome LockedFile::Open(const std::string& path, std::chrono::milliseconds patience,
                                     const std::function<bool()>& stopRequested,
                                     std::string& error) {
    Close();
    const std::wstring name = PathFromUtf8(path).wstring();
    m_file = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_file == INVALID_HANDLE_VALUE) {
        error = SystemErrorText(::GetLastError());
        return Outcome::kFailed;
    }
    if (::GetFileType(m_file) != FILE_TYPE_DISK) {
        ::CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
        error = "not a regular file";
        return Outcome::kFailed;
    }
    const auto giveUp = std::chrono::steady_clock::now() + patience;
    for (;;) {
        OVERLAPPED place = LockPlace();
        if (::LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                         &place)) {
            return Outcome::kLocked;
        }
        const DWORD code = ::GetLastError();
        Outcome outcome = Outcome::kFailed;
        if (code != ERROR_LOCK_VIOLATION && code != ERROR_IO_PENDING) {
            error = "cannot be locked (" + SystemErrorText(code) + ")";
        } else if (stopRequested && stopRequested()) {
            outcome = Outcome::kStopped;
        } else if (std::chrono::steady_clock::now() >= giveUp) {
            outcome = Outcome::kBusy;
        } else {
            std::this_thread::sleep_for(kLockRetry);
            continue;
        }
        ::CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
        return outcome;
    }
}

FileReadResult LockedFile::ReadAll(std::size_t limit) const {
    if (const std::int64_t size = FileSize(m_file);
        size > 0 && static_cast<unsigned long long>(size) > limit) {
        return TooLargeFileRead(limit);  // the reads below would tell the same, only later
    }
    FileReadResult result;
    std::string& text = result.content;
    char buffer[65536];
    for (std::int64_t at = 0;;) {
        OVERLAPPED place{};
        place.Offset = static_cast<DWORD>(at);
        place.OffsetHigh = static_cast<DWORD>(at >> 32);
        const DWORD room = static_cast<DWORD>(std::min(sizeof buffer, limit + 1 - text.size()));
        DWORD got = 0;
        if (!::ReadFile(m_file, buffer, room, &got, &place)) {
            const DWORD code = ::GetLastError();
            if (code == ERROR_HANDLE_EOF) {
                return result;
            }
            return UnreadableFileRead(SystemErrorText(code));
        }
        if (got == 0) {
            return result;
        }
        text.append(buffer, got);
        if (text.size() > limit) {
            return TooLargeFileRead(limit);
        }
        at += got;
    }
}

std::uint64_t LockedFile::LinkCount() const {
    BY_HANDLE_FILE_INFORMATION information{};
    return ::GetFileInformationByHandle(m_file, &information) ? information.nNumberOfLinks : 0;
}

bool LockedFile::Append(const std::string& text, std::string& error) {
    const std::int64_t before = FileSize(m_file);
    if (before < 0) {
        error = SystemErrorText(::GetLastError());
        return false;
    }
    LARGE_INTEGER end{};
    end.QuadPart = before;
    DWORD written = 0;
    bool ok = true;
    if (!::SetFilePointerEx(m_file, end, nullptr, FILE_BEGIN) ||
        !::WriteFile(m_file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        error = SystemErrorText(::GetLastError());
        ok = false;
    } else if (written != text.size()) {
        error = "only " + std::to_string(written) + " of " + std::to_string(text.size()) +
                " bytes written";
        ok = false;
    } else if (!::FlushFileBuffers(m_file)) {
        error = SystemErrorText(::GetLastError());
        ok = false;
    }
    if (!ok) {
        ::SetFilePointerEx(m_file, end, nullptr, FILE_BEGIN);
        ::SetEndOfFile(m_file);
        ::FlushFileBuffers(m_file);
    }
    return ok;
}

}  // namespace quillon
