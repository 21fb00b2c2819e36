#include "platform/virtual_ports.h"

#include <cstdlib>
#include <filesystem>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace quillon {

namespace fs = std::filesystem;

std::string DefaultVirtualPortFolder() {
    // Only a runtime folder that is there: one that is missing (or relative, which would depend
    // on the current folder) is not ours to make.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr) {
        const fs::path folder(runtime);
        std::error_code error;
        if (folder.is_absolute() && fs::is_directory(folder, error)) {
            return (folder / "quillon" / "ports").string();
        }
    }
    std::error_code error;
    fs::path temp = fs::temp_directory_path(error);
    if (error || !temp.is_absolute()) {
        temp = "/tmp";
    }
#ifdef _WIN32
    const std::string user = "user";
#else
    const std::string user = std::to_string(static_cast<unsigned long>(getuid()));
#endif
    return (temp / ("quillon-" + user) / "ports").string();
}

std::string VirtualPortLockPath(const std::string& linkPath) {
    return linkPath + ".lock";
}

Status CheckVirtualPortFolder(const std::string& folder) {
    fs::path own = fs::path(folder).lexically_normal();
    if (!own.has_filename()) {
        own = own.parent_path();  // written with a trailing separator
    }
    Status parent = CheckPrivateFolder(own.parent_path().string());
    if (!parent) {
        return parent;
    }
    return CheckPrivateFolder(own.string());
}

#ifdef _WIN32

Status CheckPrivateFolder(const std::string& folder) {
    return Fail(ErrorKind::kUnsupported, folder + ": virtual ports are not supported");
}

bool IsVirtualPortServed(const std::string&) {
    return false;
}

#else

Status CheckPrivateFolder(const std::string& folder) {
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0) {
        return Fail(ErrorKind::kIo, folder + " cannot be examined (" + std::strerror(errno) + ")");
    }
    if (S_ISLNK(info.st_mode)) {
        return Fail(ErrorKind::kAccessDenied, folder + " is a symbolic link");
    }
    if (!S_ISDIR(info.st_mode)) {
        return Fail(ErrorKind::kAccessDenied, folder + " is not a folder");
    }
    if (info.st_uid != geteuid()) {
        return Fail(ErrorKind::kAccessDenied, folder + " belongs to another user");
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return Fail(ErrorKind::kAccessDenied, folder + " is writable by other users");
    }
    return {};
}

bool IsVirtualPortServed(const std::string& linkPath) {
    // Not blocking: a FIFO put in its place must not hold up a port list.
    const int fd = open(VirtualPortLockPath(linkPath).c_str(),
                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    // A shared lock is refused only while someone holds the exclusive one; one that is granted
    // is given back at once by the close.
    const bool held = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                      flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

#endif

}  // namespace quillon
