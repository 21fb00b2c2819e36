#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/serial_device.h"

#include "platform/descriptor_posix.h"
#include "platform/line_speed_posix.h"
#include "platform/write_all.h"

#ifdef __linux__
#include <linux/serial.h>
#endif

namespace quillon {

namespace {

// Why a device could not be opened or set up, in the operator's words.
Unexpected<Error> OpenError(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ENODEV:
        case ENXIO:
            return Fail(ErrorKind::kNotFound, "not found");
        case EBUSY:
            return Fail(ErrorKind::kBusy, "busy (another program has it)");
        case EACCES:
        case EPERM:
            return Fail(ErrorKind::kAccessDenied, "permission denied");
        case ENOTTY:
            return Fail(ErrorKind::kUnsupported, "not a serial device");
        default:
            return Fail(ErrorKind::kIo, std::strerror(error));
    }
}

// A write that makes no progress for this long gives up instead of hanging.
constexpr int kWriteStallMs = 2000;
constexpr const char* kWriteStallText = "it took no byte for 2 s";

}  // namespace

struct SerialDevice::Impl {
    int fd = -1;
    std::size_t wakeCount = 1;  // the VMIN the device has now

    // Asks the driver to report the device readable only once `count` (1..255) bytes wait
    // (VMIN); kept when the device refuses.
    void SetWakeCount(std::size_t count);
};

SerialDevice::SerialDevice() : SerialDevice(SystemClock()) {}

SerialDevice::SerialDevice(Clock& clock) : m_clock(clock), m_impl(std::make_unique<Impl>()) {}

SerialDevice::~SerialDevice() {
    Close();
}

std::string SerialPortPermissionHint(const std::string& name) {
    struct stat info {};
    if (name.empty() || ::stat(name.c_str(), &info) != 0 ||
        ::access(name.c_str(), R_OK | W_OK) == 0 || (errno != EACCES && errno != EPERM)) {
        return {};
    }
    // Opening judges by the effective user and groups, and so does the advice.
    SerialPortAccess access;
    access.mode = info.st_mode;
    access.gid = info.st_gid;
    access.userIsOwner = info.st_uid == ::geteuid();
    access.groupMayReadWrite = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    const passwd* owner = ::getpwuid(info.st_uid);
    access.ownerName = owner != nullptr ? owner->pw_name : std::to_string(info.st_uid);
    const passwd* user = ::getpwuid(::getuid());
    const std::string userName = user != nullptr ? user->pw_name : std::string();
    access.userInGroupDatabase = user != nullptr && user->pw_gid == info.st_gid;
    const group* deviceGroup = ::getgrgid(info.st_gid);
    access.groupName = deviceGroup != nullptr ? deviceGroup->gr_name : std::to_string(info.st_gid);
    if (deviceGroup != nullptr && !userName.empty()) {
        for (char* const* member = deviceGroup->gr_mem; *member != nullptr; ++member) {
            access.userInGroupDatabase = access.userInGroupDatabase || userName == *member;
        }
    }
    access.userInGroupNow = ::getegid() == info.st_gid;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(count, 0)));
    if (count > 0 && ::getgroups(count, groups.data()) == count) {
        access.userInGroupNow = access.userInGroupNow || std::find(groups.begin(), groups.end(),
                                                                   info.st_gid) != groups.end();
    }
    return SerialPortPermissionAdvice(name, access);
}

Status SerialDevice::Open(const std::string& name) {
    Close();
    // Never the controlling terminal, never blocking, never created.
    const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return OpenError(errno);
    }
    // Exclusive use: an advisory lock that every SerialDevice takes (it holds for root too),
    // and for terminals the driver's own exclusive mode against other programs.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return OpenError(error);
    }
    if (::isatty(fd)) {
        ::ioctl(fd, TIOCEXCL);
    }
    m_impl->fd = fd;
    m_gone = false;
    m_pending.Clear();
    return {};
}

Status SerialDevice::Configure(BaudRate baudRate) {
    const int fd = m_impl->fd;
    if (fd < 0) {
        return Fail(ErrorKind::kFailed, "not open");
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return Fail(ErrorKind::kUnsupported, "not a serial device");  // a plain file, /dev/null
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP | IGNPAR | PARMRK);
    tio.c_iflag |= IGNBRK;
    // Reads never block (O_NONBLOCK); a VMIN of 1 or more makes an empty read report EAGAIN,
    // so a read of 0 bytes can only mean that the device hung up. WaitForInput raises it
    // while it waits for several bytes.
    tio.c_cc[VMIN] = 1;
    m_impl->wakeCount = 1;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        return OpenError(errno);
    }
    // The rate comes last, read back from the driver: a driver may refuse a rate or round it
    // to one its clock makes, and a rate far from the one asked garbles every byte.
    const Status speedSet = SetLineSpeed(fd, baudRate.bitsPerSecond);
    const Result<std::uint32_t> speed = LineSpeed(fd);
    if (!speed) {
        return Fail(speed.error());
    }
    if (Status close = CheckBaudRateSet(baudRate, *speed); !close) {
        return close;
    }
    if (!speedSet) {
        return speedSet;  // refused, though what it holds is near enough: still a refusal
    }
    // DTR and RTS on. Pseudo-terminals have no modem lines; that is not a failure.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIS, &lines);
#ifdef __linux__
    // USB serial adapters hold received bytes for up to 16 ms unless asked for low latency;
    // single-byte echoes would crawl. Drivers without the setting simply refuse it.
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
#endif
    return {};
}

bool SerialDevice::IsOpen() const {
    return m_impl->fd >= 0;
}

void SerialDevice::Close() {
    if (m_impl->fd >= 0) {
        // A real port drops the exclusive mode with its last close, a pseudo-terminal's slave
        // keeps it while the master is open: a user without privileges could not open the
        // line again. Given back here, for both.
        if (::isatty(m_impl->fd)) {
            ::ioctl(m_impl->fd, TIOCNXCL);
        }
        ::close(m_impl->fd);  // also releases the lock
        m_impl->fd = -1;
    }
    m_pending.Clear();
    m_gone = false;
}

void SerialDevice::Drain() {
    if (m_impl->fd < 0 || m_gone) {
        return;
    }
    std::uint8_t chunk[4096];
    while (m_pending.size() < PendingInput::kLimit) {
        const ssize_t got = ::read(m_impl->fd, chunk, sizeof chunk);
        if (got > 0) {
            m_pending.Append(chunk, static_cast<std::size_t>(got));
            if (static_cast<std::size_t>(got) < sizeof chunk) {
                // The driver had no more just now; asking again would only say so. Bytes that
                // came in meanwhile are seen by the next poll, which reports them at once.
                return;
            }
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        // 0 (end of file) or an error such as EIO: the device hung up or was unplugged.
        m_gone = true;
        return;
    }
}

Status SerialDevice::Write(const std::uint8_t* bytes, std::size_t count) {
    const int fd = m_impl->fd;
    if (fd < 0) {
        return Fail(ErrorKind::kFailed, "not open");
    }
    // Mostly the driver takes the whole stretch at once (a monitor byte, a block): then no
    // stall watch needs to be built for it, which costs more than the write in lock step.
    ssize_t put = ::write(fd, bytes, count);
    while (put < 0 && errno == EINTR) {
        put = ::write(fd, bytes, count);
    }
    if (put == static_cast<ssize_t>(count)) {
        return {};
    }
    const std::size_t done = put > 0 ? static_cast<std::size_t>(put) : 0;
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        return Written(Fail(ErrorKind::kIo, std::strerror(errno)));
    }
    return Written(WriteAllWithStallLimit(bytes + done, count - done,
                                          DescriptorStream(fd, kWriteStallMs, kWriteStallText)));
}

void SerialDevice::Impl::SetWakeCount(std::size_t count) {
    if (count == wakeCount) {
        return;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return;
    }
    tio.c_cc[VMIN] = static_cast<cc_t>(count);
    if (::tcsetattr(fd, TCSANOW, &tio) == 0) {
        wakeCount = count;
    }
}

bool SerialDevice::WaitForInput(std::size_t count, std::uint32_t timeoutMs) {
    const std::uint64_t deadline = m_clock.NowMs() + timeoutMs;
    for (;;) {
        if (m_pending.size() >= count) {
            return true;
        }
        if (m_impl->fd < 0 || m_gone) {
            return false;
        }
        const std::uint64_t now = m_clock.NowMs();
        if (now >= deadline) {
            return false;
        }
        const int left = static_cast<int>(std::min<std::uint64_t>(deadline - now, 0x7FFFFFFF));
        // Bytes still in the driver make poll return at once and are taken below; once they
        // are in the pending buffer poll reports only new bytes (or a hang-up), so this never
        // spins. The caller has usually just taken everything, so the first call waits. For
        // several bytes the driver reports the device readable only once they are all there,
        // so that bytes coming one by one do not bring this thread back for each; at the
        // deadline the caller asks for what did come.
        m_impl->SetWakeCount(std::min<std::size_t>(count - m_pending.size(), 255));
        pollfd p{m_impl->fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, left);
        if (ready < 0 && errno != EINTR) {
            m_gone = true;
            return false;
        }
        if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLIN)) {
            m_gone = true;
        }
        if (ready > 0) {
            Drain();
        }
    }
}

}  // namespace quillon
