#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "ports/com_ports.h"

namespace quillon {

// Where the Linux way looks for serial ports.
struct SysfsPortSources {
    std::filesystem::path sysfsRoot = "/sys";  // its class/tty lists the terminals
    std::filesystem::path devRoot = "/dev";    // the device nodes' folder, for the port names
    // Where running virtual targets announce their ports as links; empty: none looked for.
    std::filesystem::path virtualPortFolder;
};

// /sys, /dev and DefaultVirtualPortFolder().
SysfsPortSources DefaultSysfsPortSources();

// Appends the serial ports to `ports`, with the EnumerateComPorts contract; an error's text
// carries the system's code of the reason a folder could not be listed ("error 20").
//
// First the terminals of sysfs that have a device behind them (entries of class/tty with a
// `device` link), except the placeholders a UART driver registers without a UART: a port whose
// `type` reads 0, or a port of the legacy "serial8250" driver without a readable type. The
// port name is the device node (/dev/ttyUSB0); the friendly name is the USB device's
// manufacturer and product strings where the port sits on a USB device that has them, else
// the driver's name, else the port name. Then every live port announced in the virtual port
// folder: a symbolic link whose target exists and whose virtual target is still serving it
// (IsVirtualPortServed), named by the link's own path, with the friendly name
// kVirtualPortFriendlyName. A virtual port folder that CheckVirtualPortFolder refuses (another
// user's, or writable by others) contributes no ports.
//
// Directory order means nothing, so each of the two groups is given in natural order of the
// names, numbers by value: ttyACM0, ttyS0, ttyS2, ttyS10, ttyUSB0. A missing class/tty or
// virtual port folder simply contributes no ports; an entry that vanishes while it is read
// is passed over.
[[nodiscard]] Status EnumerateSysfsComPorts(const SysfsPortSources& sources,
                                            std::vector<PortEntry>& ports);

}  // namespace quillon
