#include "platform/descriptor_posix.h"

#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quillon {

StalledWrite DescriptorStream(int fd, int stallMs, std::string stallText) {
    StalledWrite stream;
    stream.writeSome = [fd, stallText](const std::uint8_t* part,
                                       std::size_t size) -> Result<std::size_t> {
        for (;;) {
            const ssize_t put = ::write(fd, part, size);
            if (put > 0) {
                return static_cast<std::size_t>(put);
            }
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return 0;  // the buffer is full
            }
            return Fail(ErrorKind::kIo, put < 0 ? std::strerror(errno) : stallText);
        }
    };
    stream.waitWritable = [fd](int waitMs) -> Result<bool> {
        for (;;) {
            pollfd p{fd, POLLOUT, 0};
            const int ready = ::poll(&p, 1, waitMs);
            if (ready > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
                return Fail(ErrorKind::kIo, "hung up");
            }
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready < 0) {
                return Fail(ErrorKind::kIo, std::strerror(errno));
            }
            return ready > 0;
        }
    };
    stream.stallMs = stallMs;
    stream.stallText = std::move(stallText);
    return stream;
}

Result<bool> TryExclusiveLock(int fd) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) {
            continue;
        }
        if (errno == EWOULDBLOCK) {
            return false;
        }
        return Fail(ErrorKind::kIo, std::strerror(errno));
    }
    return true;
}

}  // namespace quillon
