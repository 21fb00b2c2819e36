#include "cli/record_file.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/utf8_path.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// How long an append waits for another program's append to finish. Appends take
// milliseconds; a lock held longer than this belongs to something that is not appending.
constexpr auto kLockPatience = std::chrono::seconds(10);
constexpr auto kLockRetry = std::chrono::milliseconds(5);

std::string ShortWrite(std::size_t written, std::size_t size) {
    return "only " + std::to_string(written) + " of " + std::to_string(size) + " bytes written";
}

// Splits `text` into its whole lines.
std::vector<std::string> WholeLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
        lines.push_back(text.substr(begin, end - begin));
    }
    return lines;
}

#ifdef _WIN32
std::string SystemError(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string message;
    if (length > 0 && text != nullptr) {
        message = Utf8FromPath(std::filesystem::path(std::wstring(text, length)));
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                    message.back() == '.' || message.back() == ' ')) {
            message.pop_back();
        }
    }
    ::LocalFree(text);
    return message.empty() ? "error " + std::to_string(code) : message;
}

// The appends' lock: one byte far beyond any record's end, so that it never stands in the way
// of a reader or of a writer that does not take it.
OVERLAPPED LockPlace() {
    OVERLAPPED place{};
    place.Offset = 0xFFFFFFFF;
    place.OffsetHigh = 0x7FFFFFFF;
    return place;
}
#endif

}  // namespace

#ifdef _WIN32

RecordFile::~RecordFile() {
    if (m_file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_file);
    }
}

bool RecordFile::Open(const std::string& path, std::string& error) {
    // Others may read, write and rename it meanwhile.
    const std::wstring name = PathFromUtf8(path).wstring();
    m_file = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    m_readable = m_file != INVALID_HANDLE_VALUE;
    if (m_file == INVALID_HANDLE_VALUE) {
        error = SystemError(::GetLastError());
        return false;
    }
    if (::GetFileType(m_file) != FILE_TYPE_DISK) {
        ::CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
        error = "not a regular file";
        return false;
    }
    return true;
}

bool RecordFile::IsOpen() const {
    return m_file != INVALID_HANDLE_VALUE;
}

std::int64_t RecordFile::Size() const {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(m_file, &size) ? size.QuadPart : -1;
}

bool RecordFile::Append(const std::string& line, std::string& error) {
    const auto giveUp = std::chrono::steady_clock::now() + kLockPatience;
    OVERLAPPED lock = LockPlace();
    while (!::LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                         &lock)) {
        if (std::chrono::steady_clock::now() >= giveUp) {
            error = "the file stays locked by another program";
            return false;
        }
        std::this_thread::sleep_for(kLockRetry);
        lock = LockPlace();
    }
    const std::int64_t before = Size();
    bool ok = before >= 0;
    if (!ok) {
        error = SystemError(::GetLastError());
    }
    std::string text = line;
    if (ok && before > 0) {
        char last = '\n';
        DWORD got = 0;
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(before - 1);
        at.OffsetHigh = static_cast<DWORD>((before - 1) >> 32);
        if (::ReadFile(m_file, &last, 1, &got, &at) && got == 1 && last != '\n') {
            text.insert(text.begin(), '\n');
        }
    }
    LARGE_INTEGER end{};
    end.QuadPart = before;
    DWORD written = 0;
    if (ok &&
        !(::SetFilePointerEx(m_file, end, nullptr, FILE_BEGIN) &&
          ::WriteFile(m_file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))) {
        error = SystemError(::GetLastError());
        ok = false;
    } else if (ok && written != text.size()) {
        error = ShortWrite(written, text.size());
        ok = false;
    }
    if (ok && !::FlushFileBuffers(m_file)) {
        error = SystemError(::GetLastError());
        ok = false;
    }
    if (!ok && before >= 0) {
        // Whatever part of the line reached the file goes again.
        ::SetFilePointerEx(m_file, end, nullptr, FILE_BEGIN);
        ::SetEndOfFile(m_file);
        ::FlushFileBuffers(m_file);
    }
    lock = LockPlace();
    ::UnlockFileEx(m_file, 0, 1, 0, &lock);
    return ok;
}

std::vector<std::string> RecordFile::LinesFrom(std::int64_t offset) const {
    std::string text;
    char buffer[4096];
    for (std::int64_t at = offset;;) {
        OVERLAPPED place{};
        place.Offset = static_cast<DWORD>(at);
        place.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD got = 0;
        if (!::ReadFile(m_file, buffer, sizeof buffer, &got, &place) || got == 0) {
            break;
        }
        text.append(buffer, got);
        at += got;
    }
    return WholeLines(text);
}

#else

RecordFile::~RecordFile() {
    if (m_file >= 0) {
        close(m_file);
    }
}

bool RecordFile::Open(const std::string& path, std::string& error) {
    // O_NONBLOCK: a pipe without a reader must not hold the run up before it starts; it is
    // refused below like every file that is not a regular one. Read access lets an append see
    // whether the file ends with a line end; a file that may only be written is still taken.
    constexpr int kFlags = O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    m_file = open(path.c_str(), O_RDWR | kFlags, 0666);
    m_readable = m_file >= 0;
    if (m_file < 0 && errno == EACCES) {
        m_file = open(path.c_str(), O_WRONLY | kFlags, 0666);
    }
    if (m_file < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (fstat(m_file, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(m_file);
        m_file = -1;
        error = "not a regular file";
        return false;
    }
    // A file just created is only sure to be found after a power cut once its folder is on
    // the disk too.
    const std::filesystem::path folder = PathFromUtf8(path).parent_path();
    const int folderFile =
        open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFile >= 0) {
        fsync(folderFile);
        close(folderFile);
    }
    return true;
}

bool RecordFile::IsOpen() const {
    return m_file >= 0;
}

std::int64_t RecordFile::Size() const {
    struct stat status {};
    return fstat(m_file, &status) == 0 ? static_cast<std::int64_t>(status.st_size) : -1;
}

bool RecordFile::Append(const std::string& line, std::string& error) {
    // The lock of every quillon-cli append: between taking the size and writing, no other
    // station's line may land, or cutting back a failed write would cut that line too.
    const auto giveUp = std::chrono::steady_clock::now() + kLockPatience;
    while (flock(m_file, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            break;  // a file system without locks: the appends are still single writes
        }
        if (std::chrono::steady_clock::now() >= giveUp) {
            error = "the file stays locked by another program";
            return false;
        }
        std::this_thread::sleep_for(kLockRetry);
    }
    const std::int64_t before = Size();
    std::string text = line;
    char last = '\n';
    if (m_readable && before > 0 && pread(m_file, &last, 1, before - 1) == 1 && last != '\n') {
        text.insert(text.begin(), '\n');
    }
    // One write call: with O_APPEND the line lands at the end of the file even beside a writer
    // that does not take the lock. Nothing written yet on EINTR, so it is tried again.
    ssize_t written;
    do {
        written = write(m_file, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    bool ok = true;
    if (written < 0) {
        error = std::strerror(errno);
        ok = false;
    } else if (static_cast<std::size_t>(written) != text.size()) {
        error = ShortWrite(static_cast<std::size_t>(written), text.size());
        ok = false;
    } else {
        int synced;
        do {
            synced = fsync(m_file);
        } while (synced != 0 && errno == EINTR);
        if (synced != 0) {
            error = std::strerror(errno);
            ok = false;
        }
    }
    if (!ok && before >= 0 && written > 0) {
        // Whatever part of the line reached the file goes again; shrinking a file is allowed
        // even beyond a file size limit and on a full disk.
        while (ftruncate(m_file, before) != 0 && errno == EINTR) {
        }
        fsync(m_file);
    }
    flock(m_file, LOCK_UN);
    return ok;
}

std::vector<std::string> RecordFile::LinesFrom(std::int64_t offset) const {
    std::string text;
    char buffer[4096];
    for (off_t at = static_cast<off_t>(offset);;) {
        const ssize_t got = pread(m_file, buffer, sizeof buffer, at);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
        at += got;
    }
    return WholeLines(text);
}

#endif
