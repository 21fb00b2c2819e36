#include "link/port_channel.h"

#include "link/network_channel.h"
#include "link/serial_channel.h"

namespace quillon {

OpenedChannel OpenPortChannel(const PortAddress& address, const LineSettings& line,
                              const std::function<bool()>& stop, Clock& clock) {
    if (address.IsNetwork()) {
        return OpenNetworkChannel(address, line, stop, {}, clock);
    }
    return OpenSerialChannel(line, clock);
}

}  // namespace quillon
