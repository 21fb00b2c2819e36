#pragma once

#include <cstdint>

#include "ports/com_ports.h"
#include "ports/registry.h"

namespace quillon {

// Lists the COM ports that a Windows device registry knows, with the EnumerateComPorts
// contract (result 1/0, last error on failure): the device tree walk below
// "SYSTEM\CURRENTCONTROLSET\ENUM", then the ports of the serial device map
// "HARDWARE\DEVICEMAP\SERIALCOMM" that the walk did not report (virtual and network port
// drivers, Wine's ports), each name once.
//
// The device tree walk visits enumerator\device\instance keys and reports every instance of
// the ports class whose port name begins with "COM", with its friendly name. Every key opened
// is closed again on every way out. A registry that keeps answering kErrorMoreData ends the
// listing with kErrorNotEnoughMemory once a buffer would pass 1 MiB.
[[nodiscard]] int EnumerateRegistryComPorts(Registry& registry, ComPortCallback callback,
                                            std::uintptr_t context);

}  // namespace quillon
