#include "link/port_channel.h"

#include "link/network_channel.h"
#include "link/serial_channel.h"

namespace quillon {

OpenedChannel OpenPortChannel(const PortAddress& address, const LineSettings& line,
                              const std::function<bool()>& stop, SystemEnv& env) {
    if (address.IsNetwork()) {
        return OpenNetworkChannel(address, line, stop, {}, env);
    }
    return OpenSerialChannel(line, env);
}

}  // namespace quillon
