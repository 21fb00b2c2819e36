#include "platform/standard_streams.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

int EnsureStandardStreams() {
    int closed = 0;
#ifndef _WIN32
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        closed |= 1 << fd;
        // open() takes the lowest free number, which is this one: the lower ones are open.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened != fd && opened >= 0) {
            // Cannot happen while the lower ones are open; never leave a stray descriptor.
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
#endif
    return closed;
}
