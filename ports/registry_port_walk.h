#pragma once

#include <vector>

#include "platform/registry.h"
#include "ports/com_ports.h"

namespace quillon {

// Appends the COM ports that a Windows device registry knows to `ports`, with the
// EnumerateComPorts contract (the ports found before an error stay): the device tree walk below
// "SYSTEM\CURRENTCONTROLSET\ENUM", then the ports of the serial device map
// "HARDWARE\DEVICEMAP\SERIALCOMM" that the walk did not report (virtual and network port
// drivers, Wine's ports), each name once.
//
// The device tree walk visits enumerator\device\instance keys and reports every instance of
// the ports class whose port name begins with "COM", with its friendly name. Every key opened
// is closed again on every way out. A registry that keeps answering kMoreData ends the
// listing with an error of kind kOutOfMemory ("error 8") once a buffer would pass 1 MiB; a
// device tree root that is missing is an error of kind kNotFound ("error 2").
[[nodiscard]] Status EnumerateRegistryComPorts(Registry& registry, std::vector<PortEntry>& ports);

}  // namespace quillon
