#include "sim/pty_line.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/virtual_ports.h"

#ifdef __linux__
#include <sys/inotify.h>
#endif

namespace quillon {

namespace {

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

PtyLine::~PtyLine() {
    Close();
}

bool PtyLine::Open(std::string* error) {
    Close();
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0) {
        *error = SystemError("cannot create a pseudo-terminal");
        return false;
    }
    char name[256];
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
        ptsname_r(m_master, name, sizeof name) != 0) {
        *error = SystemError("cannot prepare the pseudo-terminal");
        Close();
        return false;
    }
    m_slavePath = name;
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_heldSlave = open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_heldSlave < 0) {
        *error = SystemError("cannot open " + m_slavePath);
        Close();
        return false;
    }
    // Raw: every byte passes unchanged in both directions, nothing is echoed.
    termios settings{};
    tcgetattr(m_heldSlave, &settings);
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(m_heldSlave, TCSANOW, &settings) != 0) {
        *error = SystemError("cannot set " + m_slavePath + " raw");
        Close();
        return false;
    }
#ifdef __linux__
    m_watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watch >= 0 && inotify_add_watch(m_watch, m_slavePath.c_str(),
                                          IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        close(m_watch);
        m_watch = -1;
    }
#endif
    m_hostOpens = 0;
    return true;
}

void PtyLine::Close() {
    for (int* fd : {&m_watch, &m_heldSlave, &m_master}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
    m_hostOpens = 0;
}

std::size_t PtyLine::UnreadByHost() const {
    int count = 0;
    if (m_heldSlave < 0 || ioctl(m_heldSlave, FIONREAD, &count) != 0 || count < 0) {
        return 0;
    }
    return static_cast<std::size_t>(count);
}

bool PtyLine::ReadHostChanges() {
    bool disconnected = false;
#ifdef __linux__
    if (m_watch < 0) {
        return disconnected;
    }
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t got = read(m_watch, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        for (ssize_t at = 0; at < got;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            at += static_cast<ssize_t>(sizeof event + event.len);
            if ((event.mask & IN_OPEN) != 0) {
                ++m_hostOpens;
            }
            if ((event.mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) != 0 && m_hostOpens > 0) {
                if (--m_hostOpens == 0) {
                    ReleaseHost();
                    disconnected = true;
                }
            }
        }
    }
#endif
    return disconnected;
}

void PtyLine::ReleaseHost() {
    ioctl(m_heldSlave, TIOCNXCL);
    tcflush(m_heldSlave, TCIFLUSH);
}

bool PortLink::Point(const std::string& linkPath, const std::string& target, std::string* error) {
    namespace fs = std::filesystem;
    std::error_code code;
    const fs::file_status status = fs::symlink_status(linkPath, code);
    if (fs::exists(status) && !fs::is_symlink(status)) {
        *error = linkPath + " exists and is not a symbolic link; not replaced";
        return false;
    }
    if (linkPath != m_path) {
        Remove();
        if (!HoldLock(linkPath, error)) {
            return false;
        }
    }
    // Made under a hidden name and renamed, so a port list never sees a half-made link.
    const fs::path path(linkPath);
    std::string hidden = ".";
    hidden += path.filename().string();
    hidden += ".new-";
    hidden += std::to_string(getpid());
    const std::string temporary = (path.parent_path() / hidden).string();
    fs::remove(temporary, code);
    fs::create_symlink(target, temporary, code);
    if (!code) {
        fs::rename(temporary, linkPath, code);
    }
    if (code) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        *error = "cannot make the link " + linkPath + ": " + code.message();
        if (m_path.empty()) {
            ReleaseLock();
        }
        return false;
    }
    m_path = linkPath;
    m_target = target;
    return true;
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

bool PortLink::HoldLock(const std::string& linkPath, std::string* error) {
    // Locked under a hidden name and renamed into place: no one can take it in between, and a
    // lock file left by an earlier run under this name is replaced, never waited for.
    const std::string lockPath = VirtualPortLockPath(linkPath);
    const std::filesystem::path place(lockPath);
    // Appended piece by piece: g++ 12 at -O3 warns wrongly about a string literal + string.
    std::string hidden = ".";
    hidden += place.filename().string();
    hidden += ".new-";
    hidden += std::to_string(getpid());
    const std::string temporary = (place.parent_path() / hidden).string();
    unlink(temporary.c_str());
    const int fd =
        open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = SystemError("cannot make the lock " + lockPath);
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || rename(temporary.c_str(), lockPath.c_str()) != 0) {
        *error = SystemError("cannot make the lock " + lockPath);
        unlink(temporary.c_str());
        close(fd);
        return false;
    }
    m_lock = fd;
    m_lockPath = lockPath;
    return true;
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
