#include "link/port_channel.h"

#include "link/network_channel.h"
#include "link/serial_channel.h"
#include "ports/port_address.h"

namespace quillon {

OpenedChannel OpenPortChannel(const LineSettings& line, const std::function<bool()>& stop) {
    const PortAddress address = ParsePortAddress(line.port);
    if (!address.ok()) {
        OpenedChannel refused;
        refused.reason = address.error;
        return refused;
    }
    if (address.IsNetwork()) {
        return OpenNetworkChannel(address, line, stop);
    }
    return OpenSerialChannel(line);
}

}  // namespace quillon
