#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/regular_file.h"

namespace quillon {

namespace {

Unexpected<Error> Unreadable(int error) {
    return UnreadableFileRead(std::strerror(error));
}

struct Descriptor {
    int fd;
    ~Descriptor() { ::close(fd); }
};

}  // namespace

FileRead ReadRegularFile(const std::string& path, std::size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) {
            return Fail(ErrorKind::kNotFound, "does not exist");
        }
        // A FIFO without a writer opens at once without blocking; a socket cannot be opened.
        if (error == ENXIO || error == EOPNOTSUPP) {
            return Fail(ErrorKind::kUnsupported, "is not a regular file");
        }
        return Unreadable(error);
    }
    const Descriptor file{fd};
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return Unreadable(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return Fail(ErrorKind::kUnsupported,
                    S_ISDIR(status.st_mode) ? "is a folder" : "is not a regular file");
    }
    const auto size = static_cast<unsigned long long>(std::max<off_t>(status.st_size, 0));
    return ReadWithinLimit(
        static_cast<std::size_t>(std::min<unsigned long long>(size, limit + 1ull)), limit,
        static_cast<std::uint64_t>(status.st_nlink),
        [fd](char* into, std::size_t room) -> Result<std::size_t> {
            for (;;) {
                const ssize_t n = ::read(fd, into, room);
                if (n >= 0) {
                    return static_cast<std::size_t>(n);
                }
                if (errno != EINTR) {
                    return Fail(ErrorKind::kIo, std::strerror(errno));
                }
            }
        });
}

}  // namespace quillon
