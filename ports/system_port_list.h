#pragma once

#include <vector>

#include "ports/com_ports.h"

namespace quillon {

// Appends the serial ports the system knows, without the user's network ports: the device
// registry's on Windows (system_port_list_registry.cpp), the kernel's device tree elsewhere
// (system_port_list_sysfs.cpp); the build takes the one that runs there.
[[nodiscard]] Status EnumerateSystemComPorts(std::vector<PortEntry>& ports);

}  // namespace quillon
