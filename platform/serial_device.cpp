#include "platform/serial_device.h"

namespace quillon {

// What both backends share: reads come from the pending buffer, which Drain fills from the
// driver without blocking.

namespace {

// The permission bits as `ls -l` shows them: "crw-rw----". The type and permission bits of a
// mode have the same values on every POSIX system.
std::string ModeText(std::uint32_t mode) {
    char text[] = "?---------";
    switch (mode & 0170000u) {
        case 0020000u:
            text[0] = 'c';
            break;
        case 0060000u:
            text[0] = 'b';
            break;
        case 0100000u:
            text[0] = '-';
            break;
        case 0040000u:
            text[0] = 'd';
            break;
        case 0120000u:
            text[0] = 'l';
            break;
        case 0010000u:
            text[0] = 'p';
            break;
        case 0140000u:
            text[0] = 's';
            break;
        default:
            break;
    }
    static const char kLetters[] = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit) {
        if (mode & (0400u >> bit)) {
            text[1 + bit] = kLetters[bit];
        }
    }
    const auto special = [&](int at, std::uint32_t flag, char withExecute, char without) {
        if (mode & flag) {
            text[at] = text[at] == 'x' ? withExecute : without;
        }
    };
    special(3, 04000u, 's', 'S');  // set user id
    special(6, 02000u, 's', 'S');  // set group id
    special(9, 01000u, 't', 'T');  // sticky
    return text;
}

}  // namespace

std::string SerialPortPermissionAdvice(const std::string& name, const SerialPortAccess& access) {
    const bool groupHelps = !access.userIsOwner && access.groupMayReadWrite;
    if (groupHelps && access.userInGroupDatabase && !access.userInGroupNow) {
        return "Permission denied for " + name + ": your user is in the group '" +
               access.groupName + "' but this session is not yet; log in again.";
    }
    if (groupHelps && access.gid != 0 && !access.userInGroupDatabase && !access.userInGroupNow) {
        return "Permission denied for " + name + ": add your user to the group '" +
               access.groupName + "' and log in again.";
    }
    return "Permission denied for " + name + " (owner " + access.ownerName + ", group " +
           access.groupName + ", mode " + ModeText(access.mode) +
           "): ask the administrator for read and write access.";
}

std::size_t SerialDevice::QueuedInput() {
    Drain();
    return m_pending.size();
}

std::size_t SerialDevice::Read(std::uint8_t* dest, std::size_t count) {
    // What a caller counted just before is here already: no system call for it.
    if (m_pending.size() < count) {
        Drain();
    }
    return m_pending.Take(dest, count);
}

Status SerialDevice::Written(Status written) {
    if (!written && written.error().kind != ErrorKind::kTimeout) {
        m_gone = true;
    }
    return written;
}

}  // namespace quillon
