#pragma once

#include <string>

namespace quillon {
// Whether port names are "COMn" names (Windows); elsewhere they are device paths, and a name
// such as the settings' default "COM1" names no port there. The build says which system it
// builds for.
inline constexpr bool kPortNamesAreComNames = QUILLON_PORT_NAMES_ARE_COM_NAMES != 0;

// The local serial ports as the system names them: device nodes on POSIX systems, COM names
// on Windows. Names of ports on the network are not for these.

// True when the local port `port` exists now (a device node, or a COM name the system knows).
bool LocalPortPresent(const std::string& port);

// True when `a` and `b` both exist now and are one device (a link and the device itself, two
// links to it, two names of one COM port).
bool LocalPortsAreOneDevice(const std::string& a, const std::string& b);

// True when `a` and `b` are two spellings of one port whether or not it exists now ("COM3",
// "com3" and "\\.\COM3" on Windows). POSIX paths are told apart by the device they reach.
bool LocalPortNamesMatch(const std::string& a, const std::string& b);

}  // namespace quillon
