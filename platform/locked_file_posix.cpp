#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/locked_file.h"
#include "platform/utf8_path.h"
#include "platform/whole_append_posix.h"

namespace quillon {

namespace {

constexpr auto kLockRetry = std::chrono::milliseconds(5);

std::string ErrnoText() {
    return std::strerror(errno);
}

}  // namespace

LockedFile::~LockedFile() {
    Close();
}

void LockedFile::Close() {
    if (m_file >= 0) {
        flock(m_file, LOCK_UN);
        close(m_file);
        m_file = -1;
    }
}

LockedFile::Outcome LockedFile::Open(const std::string& path, std::chrono::milliseconds patience,
                                     const std::function<bool()>& stopRequested,
                                     std::string& error) {
    Close();
    // O_NONBLOCK: a FIFO in its place must not hold the program up; it is refused below.
    constexpr int kFlags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    m_file = open(path.c_str(), kFlags);
    bool created = false;
    if (m_file < 0 && errno == ENOENT) {
        m_file = open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
        created = m_file >= 0;
        if (m_file < 0 && errno == EEXIST) {
            m_file = open(path.c_str(), kFlags);  // another program created it just now
        }
    }
    if (m_file < 0) {
        error = ErrnoText();
        return Outcome::kFailed;
    }
    struct stat status {};
    if (fstat(m_file, &status) != 0 || !S_ISREG(status.st_mode)) {
        Close();
        error = "not a regular file";
        return Outcome::kFailed;
    }
    if (created) {
        FlushFolderOf(path);
    }
    const auto giveUp = std::chrono::steady_clock::now() + patience;
    while (flock(m_file, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            // Without a lock, two programs could take the same number.
            error = "cannot be locked (" + ErrnoText() + ")";
            close(m_file);
            m_file = -1;
            return Outcome::kFailed;
        }
        if (stopRequested && stopRequested()) {
            close(m_file);
            m_file = -1;
            return Outcome::kStopped;
        }
        if (std::chrono::steady_clock::now() >= giveUp) {
            close(m_file);
            m_file = -1;
            return Outcome::kBusy;
        }
        std::this_thread::sleep_for(kLockRetry);
    }
    return Outcome::kLocked;
}

FileReadResult LockedFile::ReadAll(std::size_t limit) const {
    struct stat status {};
    if (fstat(m_file, &status) == 0 && static_cast<unsigned long long>(status.st_size) > limit) {
        return TooLargeFileRead(limit);  // the reads below would tell the same, only later
    }
    FileReadResult result;
    std::string& text = result.content;
    char buffer[65536];
    for (off_t at = 0;;) {
        const std::size_t room = std::min(sizeof buffer, limit + 1 - text.size());
        const ssize_t got = pread(m_file, buffer, room, at);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return UnreadableFileRead(ErrnoText());
        }
        if (got == 0) {
            return result;
        }
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > limit) {
            return TooLargeFileRead(limit);
        }
        at += got;
    }
}

std::uint64_t LockedFile::LinkCount() const {
    struct stat status {};
    return fstat(m_file, &status) == 0 ? static_cast<std::uint64_t>(status.st_nlink) : 0;
}

bool LockedFile::Append(const std::string& text, std::string& error) {
    return AppendWholeOrCutBack(m_file, text, error);
}

}  // namespace quillon
