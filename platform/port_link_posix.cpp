#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/port_link.h"
#include "platform/virtual_ports.h"

namespace quillon {

namespace {

// "name" as the hidden ".name.new-<pid>" beside it, where a file is made before it is renamed
// into place.
std::string HiddenBeside(const std::string& path) {
    const std::filesystem::path place(path);
    // Appended piece by piece: g++ 12 at -O3 warns wrongly about a string literal + string.
    std::string hidden = ".";
    hidden += place.filename().string();
    hidden += ".new-";
    hidden += std::to_string(getpid());
    return (place.parent_path() / hidden).string();
}

}  // namespace

Status PortLink::Point(const std::string& linkPath, const std::string& target) {
    namespace fs = std::filesystem;
    std::error_code code;
    const fs::file_status status = fs::symlink_status(linkPath, code);
    if (fs::exists(status) && !fs::is_symlink(status)) {
        return Fail(ErrorKind::kExists,
                    linkPath + " exists and is not a symbolic link; not replaced");
    }
    if (linkPath != m_path) {
        Remove();
        if (Status held = HoldLock(linkPath); !held) {
            return held;
        }
    }
    // Made under a hidden name and renamed, so a port list never sees a half-made link.
    const std::string temporary = HiddenBeside(linkPath);
    fs::remove(temporary, code);
    fs::create_symlink(target, temporary, code);
    if (!code) {
        fs::rename(temporary, linkPath, code);
    }
    if (code) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        if (m_path.empty()) {
            ReleaseLock();
        }
        return Fail(ErrorKind::kFailed, "cannot make the link " + linkPath + ": " + code.message());
    }
    m_path = linkPath;
    m_target = target;
    return {};
}

void PortLink::Remove() {
    if (!m_path.empty()) {
        std::error_code code;
        if (std::filesystem::read_symlink(m_path, code).string() == m_target && !code) {
            std::filesystem::remove(m_path, code);
        }
        m_path.clear();
    }
    ReleaseLock();
}

Status PortLink::HoldLock(const std::string& linkPath) {
    // Locked under a hidden name and renamed into place: no one can take it in between, and a
    // lock file left by an earlier run under this name is replaced, never waited for.
    const std::string lockPath = VirtualPortLockPath(linkPath);
    const std::string temporary = HiddenBeside(lockPath);
    unlink(temporary.c_str());
    const int fd =
        open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        rename(temporary.c_str(), lockPath.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        if (fd >= 0) {
            unlink(temporary.c_str());
            close(fd);
        }
        return Fail(ErrorKind::kFailed, "cannot make the lock " + lockPath + ": " + reason);
    }
    m_lock = fd;
    m_lockPath = lockPath;
    return {};
}

void PortLink::ReleaseLock() {
    if (m_lock < 0) {
        return;
    }
    // Only the file this link holds: a later target of the same name may have put its own there.
    struct stat held {};
    struct stat there {};
    if (fstat(m_lock, &held) == 0 && lstat(m_lockPath.c_str(), &there) == 0 &&
        held.st_dev == there.st_dev && held.st_ino == there.st_ino) {
        unlink(m_lockPath.c_str());
    }
    close(m_lock);
    m_lock = -1;
    m_lockPath.clear();
}

}  // namespace quillon
