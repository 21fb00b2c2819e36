#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/descriptor_posix.h"
#include "platform/lock_wait.h"
#include "platform/locked_file.h"
#include "platform/utf8_path.h"
#include "platform/whole_append_posix.h"

namespace quillon {

namespace {

std::string ErrnoText() {
    return std::strerror(errno);
}

}  // namespace

struct LockedFile::Impl {
    int file = -1;
};

LockedFile::LockedFile() : LockedFile(SystemClock()) {}

LockedFile::LockedFile(Clock& clock) : m_clock(clock), m_impl(std::make_unique<Impl>()) {}

LockedFile::~LockedFile() {
    Close();
}

void LockedFile::Close() {
    if (m_impl->file >= 0) {
        flock(m_impl->file, LOCK_UN);
        close(m_impl->file);
        m_impl->file = -1;
    }
}

Status LockedFile::Open(const std::string& path, std::chrono::milliseconds patience,
                        const std::function<bool()>& stopRequested) {
    Close();
    // O_NONBLOCK: a FIFO in its place must not hold the program up; it is refused below.
    constexpr int kFlags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int file = open(path.c_str(), kFlags);
    bool created = false;
    if (file < 0 && errno == ENOENT) {
        file = open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
        created = file >= 0;
        if (file < 0 && errno == EEXIST) {
            file = open(path.c_str(), kFlags);  // another program created it just now
        }
    }
    if (file < 0) {
        return Fail(ErrorKind::kIo, ErrnoText());
    }
    m_impl->file = file;
    struct stat status {};
    if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
        Close();
        return Fail(ErrorKind::kUnsupported, "not a regular file");
    }
    if (created) {
        // The new file is open and locked all the same; the flush only makes its name outlive
        // a power cut, which the next take's own flushes cover too.
        static_cast<void>(FlushFolderOf(path));
    }
    Status locked = WaitForLock(
        [file]() -> Result<bool> {
            Result<bool> taken = TryExclusiveLock(file);
            if (!taken) {
                // Without a lock, two programs could take the same number.
                return Fail(ErrorKind::kIo, "cannot be locked (" + taken.error().text + ")");
            }
            return taken;
        },
        patience, stopRequested, m_clock, "locked by another program");
    if (!locked) {
        close(file);
        m_impl->file = -1;
    }
    return locked;
}

FileRead LockedFile::ReadAll(std::size_t limit) const {
    const int file = m_impl->file;
    struct stat status {};
    const bool known = fstat(file, &status) == 0;
    const auto size =
        known ? static_cast<unsigned long long>(std::max<off_t>(status.st_size, 0)) : 0;
    off_t at = 0;
    return ReadWithinLimit(
        static_cast<std::size_t>(std::min<unsigned long long>(size, limit + 1ull)), limit,
        known ? static_cast<std::uint64_t>(status.st_nlink) : 0,
        [file, &at](char* into, std::size_t room) -> Result<std::size_t> {
            for (;;) {
                const ssize_t got = pread(file, into, room, at);
                if (got < 0 && errno == EINTR) {
                    continue;
                }
                if (got < 0) {
                    return Fail(ErrorKind::kIo, ErrnoText());
                }
                at += got;
                return static_cast<std::size_t>(got);
            }
        });
}

std::uint64_t LockedFile::LinkCount() const {
    struct stat status {};
    return fstat(m_impl->file, &status) == 0 ? static_cast<std::uint64_t>(status.st_nlink) : 0;
}

Status LockedFile::Append(const std::string& text) {
    return AppendWholeOrCutBack(m_impl->file, text);
}

}  // namespace quillon
