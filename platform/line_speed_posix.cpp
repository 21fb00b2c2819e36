#include "platform/line_speed_posix.h"

#include <errno.h>
#include <sys/ioctl.h>

#include <cstring>

#ifdef __linux__
// termios2 with TCGETS2/TCSETS2: the rate is a number of its own beside the flags.
#include <asm/termbits.h>
#else
#include <termios.h>
#endif

namespace quillon {

namespace {

struct StandardRate {
    std::uint32_t bitsPerSecond;
    speed_t constant;
};

// The rates every driver knows by name.
constexpr StandardRate kStandardRates[] = {
    {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

const StandardRate* FindStandardRate(std::uint32_t bitsPerSecond) {
    for (const StandardRate& rate : kStandardRates) {
        if (rate.bitsPerSecond == bitsPerSecond) {
            return &rate;
        }
    }
    return nullptr;
}

Unexpected<Error> SystemFailure(int error) {
    if (error == ENOTTY) {
        return Fail(ErrorKind::kUnsupported, "not a serial device");
    }
    return Fail(ErrorKind::kIo, std::strerror(error));
}

}  // namespace

#ifdef __linux__

Status SetLineSpeed(int fd, std::uint32_t bitsPerSecond) {
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0) {
        return SystemFailure(errno);
    }
    const StandardRate* standard = FindStandardRate(bitsPerSecond);
    const tcflag_t code = standard != nullptr ? standard->constant : BOTHER;
    // The output rate in CBAUD, the input rate the same (its field zero means "as output").
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= code | (code << IBSHIFT);
    tio.c_ispeed = bitsPerSecond;
    tio.c_ospeed = bitsPerSecond;
    if (::ioctl(fd, TCSETS2, &tio) != 0) {
        return SystemFailure(errno);
    }
    return {};
}

Result<std::uint32_t> LineSpeed(int fd) {
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0) {
        return SystemFailure(errno);
    }
    return static_cast<std::uint32_t>(tio.c_ospeed);
}

#else

Status SetLineSpeed(int fd, std::uint32_t bitsPerSecond) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return SystemFailure(errno);
    }
    const StandardRate* standard = FindStandardRate(bitsPerSecond);
    if (standard == nullptr) {
        return Fail(ErrorKind::kUnsupported, "no arbitrary rates on this system");
    }
    if (::cfsetispeed(&tio, standard->constant) != 0 ||
        ::cfsetospeed(&tio, standard->constant) != 0 || ::tcsetattr(fd, TCSANOW, &tio) != 0) {
        return SystemFailure(errno);
    }
    return {};
}

Result<std::uint32_t> LineSpeed(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return SystemFailure(errno);
    }
    const speed_t constant = ::cfgetospeed(&tio);
    for (const StandardRate& rate : kStandardRates) {
        if (rate.constant == constant) {
            return rate.bitsPerSecond;
        }
    }
    return std::uint32_t{0};
}

#endif

}  // namespace quillon
