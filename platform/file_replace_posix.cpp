#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/file_replace.h"
#include "platform/whole_append_posix.h"

namespace quillon {

namespace {

bool WriteAll(int file, const std::string& content) {
    for (std::size_t at = 0; at < content.size();) {
        const ssize_t written = write(file, content.data() + at, content.size() - at);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;
            }
            return false;
        }
        at += static_cast<std::size_t>(written);
    }
    return true;
}

bool Sync(int file) {
    int synced;
    do {
        synced = fsync(file);
    } while (synced != 0 && errno == EINTR);
    return synced == 0;
}

}  // namespace

Status ReplaceFileDurably(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".new";
    // A temporary file left by a crash goes first; the new one is made afresh, so that a link
    // planted in its place is never written through and never renamed over the file.
    if (unlink(temporary.c_str()) != 0 && errno != ENOENT) {
        return Fail(ErrorKind::kIo, temporary + ": " + std::strerror(errno));
    }
    const int file =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (file < 0) {
        return Fail(ErrorKind::kIo, temporary + ": " + std::strerror(errno));
    }
    const bool written = WriteAll(file, content) && Sync(file);
    const int writeErrno = errno;
    if (close(file) != 0 || !written) {
        const std::string reason = std::strerror(written ? errno : writeErrno);
        std::remove(temporary.c_str());
        return Fail(ErrorKind::kIo, temporary + ": " + reason);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(temporary.c_str());
        return Fail(ErrorKind::kIo, reason);
    }
    // The rename is only sure to outlive a power cut once the folder is on the disk.
    return FlushFolderOf(path);
}

}  // namespace quillon
