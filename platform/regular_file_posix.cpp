#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/regular_file.h"

namespace quillon {

namespace {

FileReadResult Unreadable(int error) {
    return UnreadableFileRead(std::strerror(error));
}

struct Descriptor {
    int fd;
    ~Descriptor() { ::close(fd); }
};

}  // namespace

FileReadResult ReadRegularFile(const std::string& path, std::size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) {
            return FailedFileRead(FileReadError::kMissing, "does not exist");
        }
        // A FIFO without a writer opens at once without blocking; a socket cannot be opened.
        if (error == ENXIO || error == EOPNOTSUPP) {
            return FailedFileRead(FileReadError::kNotRegular, "is not a regular file");
        }
        return Unreadable(error);
    }
    const Descriptor file{fd};
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return Unreadable(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return FailedFileRead(FileReadError::kNotRegular,
                              S_ISDIR(status.st_mode) ? "is a folder" : "is not a regular file");
    }
    if (status.st_size > 0 && static_cast<unsigned long long>(status.st_size) > limit) {
        return TooLargeFileRead(limit);
    }
    FileReadResult result;
    result.linkCount = static_cast<std::uint64_t>(status.st_nlink);
    // The size said is only a hint: the file may grow while it is read.
    result.content.resize(std::min<std::size_t>(limit, static_cast<std::size_t>(status.st_size)) +
                          1);
    std::size_t length = 0;
    for (;;) {
        if (length == result.content.size()) {
            if (length > limit) {
                return TooLargeFileRead(limit);
            }
            result.content.resize(std::min(limit + 1, length * 2 + 4096));
        }
        const ssize_t got =
            ::read(fd, result.content.data() + length, result.content.size() - length);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Unreadable(errno);
        }
        if (got == 0) {
            break;
        }
        length += static_cast<std::size_t>(got);
    }
    if (length > limit) {
        return TooLargeFileRead(limit);
    }
    result.content.resize(length);
    return result;
}

}  // namespace quillon
