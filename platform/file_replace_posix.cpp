#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/file_replace.h"
#include "platform/utf8_path.h"

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

bool ReplaceFileDurably(const std::string& path, const std::string& content, std::string& error) {
    const std::string temporary = path + ".new";
    // A temporary file left by a crash goes first; the new one is made afresh, so that a link
    // planted in its place is never written through and never renamed over the file.
    if (unlink(temporary.c_str()) != 0 && errno != ENOENT) {
        error = temporary + ": " + std::strerror(errno);
        return false;
    }
    const int file =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (file < 0) {
        error = temporary + ": " + std::strerror(errno);
        return false;
    }
    const bool written = WriteAll(file, content) && Sync(file);
    const int writeErrno = errno;
    if (close(file) != 0 || !written) {
        error = temporary + ": " + std::strerror(written ? errno : writeErrno);
        std::remove(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    // The rename is only sure to outlive a power cut once the folder is on the disk.
    const std::filesystem::path folder = PathFromUtf8(path).parent_path();
    const int folderFile =
        open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A file system that cannot flush a folder (EINVAL) has nothing more to offer.
    if (folderFile < 0 || (!Sync(folderFile) && errno != EINVAL)) {
        error = "its folder cannot be flushed to the disk (";
        error += std::strerror(errno);
        error += ")";
        if (folderFile >= 0) {
            close(folderFile);
        }
        return false;
    }
    close(folderFile);
    return true;
}

}  // namespace quillon
