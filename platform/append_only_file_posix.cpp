#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/append_only_file.h"
#include "platform/descriptor_posix.h"
#include "platform/lock_wait.h"
#include "platform/utf8_path.h"
#include "platform/whole_append_posix.h"

namespace quillon {

struct AppendOnlyFile::Impl {
    int file = -1;
};

AppendOnlyFile::AppendOnlyFile() : AppendOnlyFile(SystemClock()) {}

AppendOnlyFile::AppendOnlyFile(Clock& clock) : m_clock(clock), m_impl(std::make_unique<Impl>()) {}

AppendOnlyFile::~AppendOnlyFile() {
    if (m_impl->file >= 0) {
        close(m_impl->file);
    }
}

Status AppendOnlyFile::Open(const std::string& path) {
    // O_NONBLOCK: a pipe without a reader must not hold the run up before it starts; it is
    // refused below like every file that is not a regular one. Read access lets an append see
    // whether the file ends with a line end; a file that may only be written is still taken.
    constexpr int kFlags = O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    int file = open(path.c_str(), O_RDWR | kFlags, 0666);
    m_readable = file >= 0;
    if (file < 0 && errno == EACCES) {
        file = open(path.c_str(), O_WRONLY | kFlags, 0666);
    }
    if (file < 0) {
        return Fail(ErrorKind::kIo, std::strerror(errno));
    }
    struct stat status {};
    if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(file);
        return Fail(ErrorKind::kUnsupported, "not a regular file");
    }
    m_impl->file = file;
    // A file just created is only sure to be found after a power cut once its folder is on
    // the disk too. The file is open all the same; each line's own flush keeps what matters.
    static_cast<void>(FlushFolderOf(path));
    return {};
}

bool AppendOnlyFile::IsOpen() const {
    return m_impl->file >= 0;
}

std::int64_t AppendOnlyFile::Size() const {
    struct stat status {};
    return fstat(m_impl->file, &status) == 0 ? static_cast<std::int64_t>(status.st_size) : -1;
}

Status AppendOnlyFile::Append(const std::string& line) {
    const int file = m_impl->file;
    // The lock of every quillon-cli append: between looking at the file's end and writing, no
    // other station's line may land. Without it (a file system that has no locks) no line is
    // written at all: two stations' lines could be glued together or cut away.
    if (Status locked = WaitForLock(
            [file]() -> Result<bool> {
                Result<bool> taken = TryExclusiveLock(file);
                if (!taken) {
                    return Fail(ErrorKind::kIo, "the file cannot be locked: " + taken.error().text);
                }
                return taken;
            },
            kLockPatience, {}, m_clock, kLockedText);
        !locked) {
        return locked;
    }
    const std::int64_t before = Size();
    std::string text = line;
    char last = '\n';
    if (m_readable && before > 0 && pread(file, &last, 1, before - 1) == 1 && last != '\n') {
        text.insert(text.begin(), '\n');
    }
    // One write call: with O_APPEND the line lands at the end of the file even beside a writer
    // that does not take the lock.
    Status appended = AppendWholeOrCutBack(file, text);
    flock(file, LOCK_UN);
    return appended;
}

void AppendOnlyFile::ScanLinesFrom(std::int64_t offset, const LineVisitor& onLine) const {
    LineScan scan(onLine);
    char buffer[65536];
    for (off_t at = static_cast<off_t>(offset);;) {
        const ssize_t got = pread(m_impl->file, buffer, sizeof buffer, at);
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
