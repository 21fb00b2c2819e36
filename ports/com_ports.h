#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/device_node.h"
#include "ports/com_port_error.h"

namespace quillon {

// One serial port, as handed to a ComPortCallback. Both texts belong to the enumeration and
// are valid only during the callback call; a callback that keeps a name copies it.
struct ComPortInfo {
    const char* portName;      // what opens the port: "COM3" on Windows, "/dev/ttyUSB0" on Linux
    const char* friendlyName;  // display name; the port name again when the device has none
};

// Called once per port with the caller's context value, passed through unchanged. Returns
// non-zero to go on, 0 to stop the enumeration (stopping counts as success).
using ComPortCallback = int (*)(std::uintptr_t context, const ComPortInfo* info);

// Lists the serial ports the operating system knows, calling `callback` synchronously in the
// calling thread once per port, in the order of the system's source; nothing is sorted
// beyond that order and duplicates are not dropped. Nothing is opened or checked for
// presence. Returns 1 when the listing ran to its end or the callback stopped it, 0 on
// failure with the reason in GetLastComPortError(); ports handed out before a failure stay
// handed out.
//
// On Windows the ports come from the device registry (EnumerateRegistryComPorts), elsewhere
// from sysfs and the ports announced by running virtual targets (EnumerateSysfsComPorts). The
// ports the user has listed (ReadNetworkPortList) follow: network ports described as
// "NAME (network port)" with their URLs as port names, local devices by their NAME alone
// (control characters of a name escaped, so that a NUL cannot cut it short). Why the user's
// list or a line of it was left out goes to `notes`, when given.
[[nodiscard]] int EnumerateComPorts(ComPortCallback callback, std::uintptr_t context,
                                    std::vector<std::string>* notes = nullptr);

}  // namespace quillon
