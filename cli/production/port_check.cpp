#include "cli/production/port_check.h"

#include "helpers/text_format.h"
#include "link/port_address.h"
#include "platform/device_node.h"

namespace quillon {

bool PortPresent(const std::string& port) {
    if (ParsePortAddress(port).IsNetwork()) {
        return true;  // a server's port: the connect tells whether it is there
    }
    return LocalPortPresent(port);
}

bool PortsAreOneDevice(const std::string& a, const std::string& b) {
    if (ParsePortAddress(a).IsNetwork() || ParsePortAddress(b).IsNetwork()) {
        return ParsePortAddress(a).SameNetworkPort(ParsePortAddress(b));
    }
    return LocalPortsAreOneDevice(a, b);
}

std::string SameDevice(const std::vector<std::string>& ports) {
    for (std::size_t i = 0; i < ports.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            const bool network =
                ParsePortAddress(ports[i]).IsNetwork() || ParsePortAddress(ports[j]).IsNetwork();
            if (PortsAreOneDevice(ports[j], ports[i]) ||
                (!network && LocalPortNamesMatch(ports[i], ports[j]))) {
                return "ports " + EscapeForTerminal(ports[j], false) + " and " +
                       EscapeForTerminal(ports[i], false) + " are the same device";
            }
        }
    }
    return {};
}

}  // namespace quillon
