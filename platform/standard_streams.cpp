#include "platform/standard_streams.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace quillon {

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

bool OutputStreamsShareOnePlace() {
#ifdef _WIN32
    BY_HANDLE_FILE_INFORMATION out{};
    BY_HANDLE_FILE_INFORMATION err{};
    const HANDLE outHandle = ::GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE errHandle = ::GetStdHandle(STD_ERROR_HANDLE);
    if (outHandle == errHandle) {
        return outHandle != nullptr && outHandle != INVALID_HANDLE_VALUE;
    }
    return ::GetFileInformationByHandle(outHandle, &out) &&
           ::GetFileInformationByHandle(errHandle, &err) &&
           out.dwVolumeSerialNumber == err.dwVolumeSerialNumber &&
           out.nFileIndexHigh == err.nFileIndexHigh && out.nFileIndexLow == err.nFileIndexLow;
#else
    struct stat out {};
    struct stat err {};
    return ::fstat(STDOUT_FILENO, &out) == 0 && ::fstat(STDERR_FILENO, &err) == 0 &&
           out.st_dev == err.st_dev && out.st_ino == err.st_ino;
#endif
}

}  // namespace quillon
