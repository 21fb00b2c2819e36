#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/descriptor_posix.h"

namespace quillon {

namespace {

namespace fs = std::filesystem;

// As many links as the system follows in one path before it gives up.
constexpr int kMaxLinks = 40;
// How long a FIFO's reader or a device may take nothing before the write is given up.
constexpr int kStallMs = 10000;

// Follows symbolic links from `path` to the path they lead to, which need not exist yet (a
// dangling link names the file to create). Empty after too many links.
std::string Resolve(std::string path) {
    for (int i = 0; i < kMaxLinks; ++i) {
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return path;
        }
        std::error_code code;
        const fs::path target = fs::read_symlink(path, code);
        if (code) {
            return path;  // the stat that follows says what is wrong
        }
        path = target.is_absolute() ? target.string()
                                    : (fs::path(path).parent_path() / target).string();
    }
    return {};
}

// Writes all of `content`, waiting for room where the descriptor would block. Empty on
// success, else the reason.
std::string WriteAll(int fd, std::string_view content) {
    const Status written = WriteAllWithStallLimit(
        reinterpret_cast<const std::uint8_t*>(content.data()), content.size(),
        DescriptorStream(fd, kStallMs,
                         "the reader took nothing for " + std::to_string(kStallMs / 1000) + " s"));
    return written ? std::string() : written.error().text;
}

// A regular file or nothing at `target`: a new file beside it, renamed over it when complete.
std::string Replace(const std::string& target, std::string_view content, const struct stat* old) {
    static std::atomic<unsigned> counter{0};
    const fs::path place(target);
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        std::string name = ".";
        name += place.filename().string();
        name += ".new-";
        name += std::to_string(getpid());
        name += '-';
        name += std::to_string(counter++);
        temporary = (place.parent_path() / name).string();
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            return std::strerror(errno);
        }
    }
    if (fd < 0) {
        return std::strerror(EEXIST);
    }
    if (old != nullptr) {
        fchmod(fd, old->st_mode & 0777);
    }
    std::string reason = WriteAll(fd, content);
    if (close(fd) != 0 && reason.empty()) {
        reason = std::strerror(errno);
    }
    if (reason.empty() && rename(temporary.c_str(), target.c_str()) != 0) {
        reason = std::strerror(errno);
    }
    if (!reason.empty()) {
        unlink(temporary.c_str());
    }
    return reason;
}

// A FIFO or a character device: opened and written as it is.
std::string WriteInPlace(const std::string& target, std::string_view content, bool fifo) {
    // Not blocking: opening a FIFO without a reader would wait for one for ever, and a line
    // device could wait for its carrier.
    const int fd = open(target.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return fifo && errno == ENXIO ? "no reader on the FIFO" : std::strerror(errno);
    }
    struct stat info {};
    std::string reason;
    if (fstat(fd, &info) != 0 || !(S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode))) {
        reason = "it was replaced while being opened";
    } else {
        reason = WriteAll(fd, content);
    }
    if (close(fd) != 0 && reason.empty()) {
        reason = std::strerror(errno);
    }
    return reason;
}

}  // namespace

Status WriteOutputFile(const std::string& path, std::string_view content, const std::string& what) {
    std::string reason;
    const std::string target = Resolve(path);
    struct stat info {};
    if (target.empty()) {
        reason = std::strerror(ELOOP);
    } else if (stat(target.c_str(), &info) != 0) {
        reason = errno == ENOENT ? Replace(target, content, nullptr) : std::strerror(errno);
    } else if (S_ISREG(info.st_mode)) {
        reason = Replace(target, content, &info);
    } else if (S_ISDIR(info.st_mode)) {
        reason = "it is a directory";
    } else if (S_ISBLK(info.st_mode)) {
        reason = "it is a block device; not overwritten";
    } else if (S_ISSOCK(info.st_mode)) {
        reason = "it is a socket";
    } else {
        reason = WriteInPlace(target, content, S_ISFIFO(info.st_mode));
    }
    if (reason.empty()) {
        return {};
    }
    return Fail(ErrorKind::kIo, "cannot write " + what + " " + path + ": " + reason);
}

}  // namespace quillon
