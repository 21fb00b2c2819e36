#include "platform/whole_append_posix.h"
#include "platform/write_all.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/utf8_path.h"

namespace quillon {

Status AppendWholeOrCutBack(int fd, const std::string& text) {
    std::string error;
    // Nothing is written yet on EINTR, so the write is tried again.
    ssize_t written;
    do {
        written = write(fd, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    bool ok = true;
    if (written < 0) {
        error = std::strerror(errno);
        ok = false;
    } else if (static_cast<std::size_t>(written) != text.size()) {
        error = ShortWriteText(static_cast<std::size_t>(written), text.size());
        ok = false;
    } else {
        int synced;
        do {
            synced = fsync(fd);
        } while (synced != 0 && errno == EINTR);
        if (synced != 0) {
            error = std::strerror(errno);
            ok = false;
        }
    }
    if (ok) {
        return {};
    }
    if (written <= 0) {
        return Fail(ErrorKind::kIo, error);
    }
    // With O_APPEND the write moved the offset to just behind its own bytes: they began
    // `written` bytes before it, wherever the file ended at that moment.
    const off_t end = lseek(fd, 0, SEEK_CUR);
    struct stat status {};
    if (end < written || fstat(fd, &status) != 0 || status.st_size != end) {
        return Fail(ErrorKind::kIo,
                    error + "; the part written stays, since the file has grown behind it");
    }
    int cut;
    do {
        cut = ftruncate(fd, end - written);
    } while (cut != 0 && errno == EINTR);
    if (cut != 0) {
        return Fail(ErrorKind::kIo,
                    error + "; the part written stays (" + std::strerror(errno) + ")");
    }
    static_cast<void>(fsync(fd));  // the cut is what a flush can still save; its error adds nothing
    return Fail(ErrorKind::kIo, error);
}

Status FlushFolderOf(const std::string& path) {
    const std::filesystem::path folder = PathFromUtf8(path).parent_path();
    const int folderFile =
        open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int synced = -1;
    if (folderFile >= 0) {
        do {
            synced = fsync(folderFile);
        } while (synced != 0 && errno == EINTR);
    }
    // A file system that cannot flush a folder (EINVAL) has nothing more to offer.
    if (folderFile < 0 || (synced != 0 && errno != EINVAL)) {
        const std::string reason = std::strerror(errno);
        if (folderFile >= 0) {
            close(folderFile);
        }
        return Fail(ErrorKind::kIo, "its folder cannot be flushed to the disk (" + reason + ")");
    }
    close(folderFile);
    return {};
}

}  // namespace quillon
