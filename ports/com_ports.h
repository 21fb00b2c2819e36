#pragma once

#include <string>
#include <vector>

#include "helpers/result.h"

namespace quillon {

// One serial port of a listing.
struct PortEntry {
    std::string name;         // what opens the port: "COM3" on Windows, "/dev/ttyUSB0" on Linux
    std::string description;  // display name; the port name again when the device has none
    bool operator==(const PortEntry&) const = default;
};

// Appends the serial ports the operating system knows to `ports`, in the order of the
// system's source; nothing is sorted beyond that order and duplicates are not dropped. Nothing
// is opened or checked for presence. An error when the system's listing failed; the ports
// found before the failure, and the user's, are in `ports` all the same.
//
// On Windows the ports come from the device registry (EnumerateRegistryComPorts), elsewhere
// from sysfs and the ports announced by running virtual targets (EnumerateSysfsComPorts). The
// ports the user has listed (ReadNetworkPortList) follow: network ports described as
// "NAME (network port)" with their URLs as port names, local devices by their NAME alone
// (control characters of a name escaped, so that a NUL cannot cut it short). Why the user's
// list or a line of it was left out goes to `notes`, when given.
[[nodiscard]] Status EnumerateComPorts(std::vector<PortEntry>& ports,
                                       std::vector<std::string>* notes = nullptr);

}  // namespace quillon
