#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/append_only_file.h"
#include "platform/utf8_path.h"
#include "platform/whole_append_posix.h"

namespace quillon {

AppendOnlyFile::~AppendOnlyFile() {
    if (m_file >= 0) {
        close(m_file);
    }
}

bool AppendOnlyFile::Open(const std::string& path, std::string& error) {
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
    FlushFolderOf(path);
    return true;
}

bool AppendOnlyFile::IsOpen() const {
    return m_file >= 0;
}

std::int64_t AppendOnlyFile::Size() const {
    struct stat status {};
    return fstat(m_file, &status) == 0 ? static_cast<std::int64_t>(status.st_size) : -1;
}

bool AppendOnlyFile::Append(const std::string& line, std::string& error) {
    // The lock of every quillon-cli append: between looking at the file's end and writing, no
    // other station's line may land. Without it (a file system that has no locks) no line is
    // written at all: two stations' lines could be glued together or cut away.
    const auto giveUp = std::chrono::steady_clock::now() + kLockPatience;
    while (flock(m_file, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            error = std::string("the file cannot be locked: ") + std::strerror(errno);
            return false;
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
    // that does not take the lock.
    const bool ok = AppendWholeOrCutBack(m_file, text, error);
    flock(m_file, LOCK_UN);
    return ok;
}

void AppendOnlyFile::ScanLinesFrom(std::int64_t offset, const LineVisitor& onLine) const {
    LineScan scan(onLine);
    char buffer[65536];
    for (off_t at = static_cast<off_t>(offset);;) {
        const ssize_t got = pread(m_file, buffer, sizeof buffer, at);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        scan.Feed(buffer, static_cast<std::size_t>(got));
        at += got;
    }
}

}  // namespace quillon
