#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/pseudo_terminal.h"

#include "platform/line_speed_posix.h"

namespace quillon {

namespace {

Unexpected<Error> SystemFailure(const std::string& what) {
    return Fail(ErrorKind::kFailed, what + ": " + std::strerror(errno));
}

}  // namespace

PseudoTerminal::~PseudoTerminal() {
    Close();
}

Status PseudoTerminal::Open() {
    Close();
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0) {
        return SystemFailure("cannot create a pseudo-terminal");
    }
    char name[256];
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
        ptsname_r(m_master, name, sizeof name) != 0) {
        Unexpected<Error> failure = SystemFailure("cannot prepare the pseudo-terminal");
        Close();
        return failure;
    }
    m_slavePath = name;
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_heldSlave = open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_heldSlave < 0) {
        Unexpected<Error> failure = SystemFailure("cannot open " + m_slavePath);
        Close();
        return failure;
    }
    // Raw: every byte passes unchanged in both directions, nothing is echoed.
    termios settings{};
    tcgetattr(m_heldSlave, &settings);
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(m_heldSlave, TCSANOW, &settings) != 0) {
        Unexpected<Error> failure = SystemFailure("cannot set " + m_slavePath + " raw");
        Close();
        return failure;
    }
    // Without the watch the line still serves; it only cannot tell when a host leaves.
    m_watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watch >= 0 && inotify_add_watch(m_watch, m_slavePath.c_str(),
                                          IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        close(m_watch);
        m_watch = -1;
    }
    m_hostOpens = 0;
    return {};
}

void PseudoTerminal::Close() {
    for (int* fd : {&m_watch, &m_heldSlave, &m_master}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
    m_hostOpens = 0;
}

Result<std::size_t> PseudoTerminal::Write(const std::uint8_t* bytes, std::size_t count) {
    const ssize_t written = write(m_master, bytes, count);
    if (written >= 0) {
        return static_cast<std::size_t>(written);
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return std::size_t{0};
    }
    return Fail(ErrorKind::kIo, std::strerror(errno));
}

Result<std::size_t> PseudoTerminal::Read(std::uint8_t* buffer, std::size_t room) {
    const ssize_t got = read(m_master, buffer, room);
    if (got >= 0) {
        return static_cast<std::size_t>(got);
    }
    if (errno == EIO) {
        return Fail(ErrorKind::kIo, "no host side open on the line");
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        return std::size_t{0};
    }
    return Fail(ErrorKind::kFailed, std::strerror(errno));
}

std::size_t PseudoTerminal::UnreadByHost() const {
    int count = 0;
    if (m_heldSlave < 0 || ioctl(m_heldSlave, FIONREAD, &count) != 0 || count < 0) {
        return 0;
    }
    return static_cast<std::size_t>(count);
}

bool PseudoTerminal::ReadHostChanges() {
    bool disconnected = false;
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
    return disconnected;
}

void PseudoTerminal::ReleaseHost() {
    ioctl(m_heldSlave, TIOCNXCL);
    tcflush(m_heldSlave, TCIFLUSH);
}

Result<std::uint32_t> PseudoTerminal::HostLineSpeed() const {
    if (m_master < 0) {
        return Fail(ErrorKind::kFailed, "no line");
    }
    // The master reports the settings of the slave side, which the host set.
    return LineSpeed(m_master);
}

}  // namespace quillon
