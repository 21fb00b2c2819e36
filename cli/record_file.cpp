#include "cli/record_file.h"

#include <cerrno>
#include <cstring>

#include "platform/utf8_path.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

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
#endif

}  // namespace

#ifdef _WIN32

RecordFile::~RecordFile() {
    if (m_file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_file);
    }
}

bool RecordFile::Open(const std::string& path, std::string& error) {
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the file's end at that
    // moment, as one piece. Others may read, write and rename it meanwhile.
    m_file = ::CreateFileW(PathFromUtf8(path).wstring().c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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

bool RecordFile::Append(const std::string& line, std::string& error) {
    DWORD written = 0;
    if (!::WriteFile(m_file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
        error = SystemError(::GetLastError());
        return false;
    }
    if (written != line.size()) {
        error = "only " + std::to_string(written) + " of " + std::to_string(line.size()) +
                " bytes written";
        return false;
    }
    if (!::FlushFileBuffers(m_file)) {
        error = SystemError(::GetLastError());
        return false;
    }
    return true;
}

#else

RecordFile::~RecordFile() {
    if (m_file >= 0) {
        close(m_file);
    }
}

bool RecordFile::Open(const std::string& path, std::string& error) {
    // O_NONBLOCK: a pipe without a reader must not hold the run up before it starts; it is
    // refused below like every file that is not a regular one.
    m_file =
        open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
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

bool RecordFile::Append(const std::string& line, std::string& error) {
    // One write call: with O_APPEND the line lands whole at the end of the file, between
    // (never inside) the lines of other writers. Nothing written yet on EINTR, so it is tried
    // again; a second call for a short write's rest could land after another writer's line.
    ssize_t written;
    do {
        written = write(m_file, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
        error = std::strerror(errno);
        return false;
    }
    if (static_cast<std::size_t>(written) != line.size()) {
        error = "only " + std::to_string(written) + " of " + std::to_string(line.size()) +
                " bytes written";
        return false;
    }
    int synced;
    do {
        synced = fsync(m_file);
    } while (synced != 0 && errno == EINTR);
    if (synced != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

#endif
