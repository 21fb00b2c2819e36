#include <windows.h>

#include "platform/append_only_file.h"
#include "platform/lock_wait.h"
#include "platform/system_error.h"
#include "platform/utf8_path.h"
#include "platform/write_all.h"

namespace quillon {

namespace {

// The appends' lock: one byte far beyond any record's end, so that it never stands in the way
// of a reader or of a writer that does not take it.
OVERLAPPED LockPlace() {
    OVERLAPPED place{};
    place.Offset = 0xFFFFFFFF;
    place.OffsetHigh = 0x7FFFFFFF;
    return place;
}
// One try at the appends' lock: taken, held by another program, or an error.
Result<bool> TryAppendLock(HANDLE file) {
    OVERLAPPED place = LockPlace();
    if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &place)) {
        return true;
    }
    const DWORD code = ::GetLastError();
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) {
        return false;
    }
    return Fail(ErrorKind::kIo, "the file cannot be locked: " + SystemErrorText(code));
}

// `line`, led by a line end when the file's last byte (of `size`) is no line end: a fragment
// that something else left gets its end before the next line.
std::string WithFragmentEnded(HANDLE file, const std::string& line, std::int64_t size) {
    if (size <= 0) {
        return line;
    }
    char last = '\n';
    DWORD got = 0;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(size - 1);
    at.OffsetHigh = static_cast<DWORD>((size - 1) >> 32);
    if (::ReadFile(file, &last, 1, &got, &at) && got == 1 && last != '\n') {
        return "\n" + line;
    }
    return line;
}

}  // namespace

struct AppendOnlyFile::Impl {
    HANDLE file = INVALID_HANDLE_VALUE;
};

AppendOnlyFile::AppendOnlyFile() : AppendOnlyFile(SystemClock()) {}

AppendOnlyFile::AppendOnlyFile(Clock& clock) : m_clock(clock), m_impl(std::make_unique<Impl>()) {}

AppendOnlyFile::~AppendOnlyFile() {
    if (m_impl->file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_impl->file);
    }
}

Status AppendOnlyFile::Open(const std::string& path) {
    // Others may read, write and rename it meanwhile.
    const std::wstring name = PathFromUtf8(path).wstring();
    const HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    m_readable = file != INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) {
        return Fail(ErrorKind::kIo, SystemErrorText(::GetLastError()));
    }
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        return Fail(ErrorKind::kUnsupported, "not a regular file");
    }
    m_impl->file = file;
    return {};
}

bool AppendOnlyFile::IsOpen() const {
    return m_impl->file != INVALID_HANDLE_VALUE;
}

std::int64_t AppendOnlyFile::Size() const {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(m_impl->file, &size) ? size.QuadPart : -1;
}

Status AppendOnlyFile::Append(const std::string& line) {
    const HANDLE file = m_impl->file;
    // Without the lock no line is written: two stations' lines could be glued together.
    if (Status locked = WaitForLock([file] { return TryAppendLock(file); }, kLockPatience, {},
                                    m_clock, kLockedText);
        !locked) {
        return locked;
    }
    const std::int64_t before = Size();
    Status appended = before < 0 ? Status(Fail(ErrorKind::kIo, SystemErrorText(::GetLastError())))
                                 : WriteAtEnd(WithFragmentEnded(file, line, before), before);
    OVERLAPPED lock = LockPlace();
    ::UnlockFileEx(file, 0, 1, 0, &lock);
    return appended;
}

Status AppendOnlyFile::WriteAtEnd(const std::string& text, std::int64_t before) {
    const HANDLE file = m_impl->file;
    std::string error;
    LARGE_INTEGER end{};
    end.QuadPart = before;
    DWORD written = 0;
    if (!(::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) &&
          ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))) {
        error = SystemErrorText(::GetLastError());
    } else if (written != text.size()) {
        error = ShortWriteText(written, text.size());
    } else if (!::FlushFileBuffers(file)) {
        error = SystemErrorText(::GetLastError());
    } else {
        return {};
    }
    if (written > 0) {
        // Whatever part of the line reached the file goes again, but nothing before it, nor
        // anything a program without the lock appended behind it.
        if (Size() == before + static_cast<std::int64_t>(written)) {
            ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
            ::SetEndOfFile(file);
            ::FlushFileBuffers(file);
        } else {
            error += "; the part written stays, since the file has grown behind it";
        }
    }
    return Fail(ErrorKind::kIo, error);
}

void AppendOnlyFile::ScanLinesFrom(std::int64_t offset, const LineVisitor& onLine) const {
    LineScan scan(onLine);
    char buffer[65536];
    for (std::int64_t at = offset;;) {
        OVERLAPPED place{};
        place.Offset = static_cast<DWORD>(at);
        place.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD got = 0;
        if (!::ReadFile(m_impl->file, buffer, sizeof buffer, &got, &place) || got == 0) {
            break;
        }
        scan.Feed(buffer, got);
        at += got;
    }
}

}  // namespace quillon
