#include "production/port_check.h"

#include <algorithm>

#include "helpers/text_format.h"
#include "link/network_channel.h"
#include "platform/device_node.h"
#include "platform/host_lookup.h"
#include "ports/port_address.h"

namespace quillon {

namespace {

// A port name as read, and for a port on the network the addresses its host stands for
// (IPv4-mapped IPv6 addresses as IPv4; none when it could not be looked up).
struct CheckedPort {
    PortAddress address;
    std::vector<IpAddress> addresses;
};

// Reads `ports` and looks up, all at once within the limit of one connect, the hosts of the
// network ports that share their port number with another (no other pair can be one port).
std::vector<CheckedPort> CheckPorts(const std::vector<std::string>& ports,
                                    const std::function<bool()>& stop) {
    std::vector<CheckedPort> checked;
    for (const std::string& port : ports) {
        // The names were read when the options were: a malformed one is none of the network's.
        checked.push_back({ParsePortAddress(port).value_or(PortAddress{}), {}});
    }
    const auto sharesItsPort = [&checked](const CheckedPort& port) {
        return port.address.IsNetwork() &&
               std::count_if(checked.begin(), checked.end(), [&port](const CheckedPort& other) {
                   return other.address.IsNetwork() && other.address.port == port.address.port;
               }) > 1;
    };
    std::vector<std::string> hosts;
    for (const CheckedPort& port : checked) {
        if (sharesItsPort(port) &&
            std::find(hosts.begin(), hosts.end(), port.address.host) == hosts.end()) {
            hosts.push_back(port.address.host);
        }
    }
    if (hosts.empty()) {
        return checked;
    }
    const std::vector<HostAddresses> found =
        LookUpHosts(hosts, NetworkPortTimeouts{}.connectMs, stop);
    for (CheckedPort& port : checked) {
        const auto host = std::find(hosts.begin(), hosts.end(), port.address.host);
        if (!sharesItsPort(port) || host == hosts.end()) {
            continue;
        }
        const HostAddresses& addresses = found[static_cast<std::size_t>(host - hosts.begin())];
        for (const IpAddress& ip : addresses ? *addresses : std::vector<IpAddress>{}) {
            port.addresses.push_back(ip.Folded());
        }
    }
    return checked;
}

// One port of one server: the same port number, and the same host by its name or by an
// address that both names stand for ("localhost", "127.1" and "[::ffff:127.0.0.1]" are
// "127.0.0.1"), whatever the protocol.
bool OneServerPort(const CheckedPort& a, const CheckedPort& b) {
    if (!a.address.IsNetwork() || !b.address.IsNetwork() || a.address.port != b.address.port) {
        return false;
    }
    return a.address.SameNetworkPort(b.address) ||
           std::any_of(a.addresses.begin(), a.addresses.end(), [&b](const IpAddress& ip) {
               return std::find(b.addresses.begin(), b.addresses.end(), ip) != b.addresses.end();
           });
}

}  // namespace

bool PortPresent(const std::string& port) {
    if (ParsePortAddress(port).value_or(PortAddress{}).IsNetwork()) {
        return true;  // a server's port: the connect tells whether it is there
    }
    return LocalPortPresent(port);
}

bool PortsAreOneDevice(const std::string& a, const std::string& b) {
    const bool networkA = ParsePortAddress(a).value_or(PortAddress{}).IsNetwork();
    const bool networkB = ParsePortAddress(b).value_or(PortAddress{}).IsNetwork();
    if (networkA && networkB) {
        const std::vector<CheckedPort> checked = CheckPorts({a, b}, {});
        return OneServerPort(checked[0], checked[1]);
    }
    return !networkA && !networkB && LocalPortsAreOneDevice(a, b);
}

std::string SameDevice(const std::vector<std::string>& ports, const std::function<bool()>& stop) {
    const std::vector<CheckedPort> checked = CheckPorts(ports, stop);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            const bool network = checked[i].address.IsNetwork() || checked[j].address.IsNetwork();
            if (network ? OneServerPort(checked[j], checked[i])
                        : LocalPortsAreOneDevice(ports[j], ports[i]) ||
                              LocalPortNamesMatch(ports[i], ports[j])) {
                return "ports " + EscapeForTerminal(ports[j], false) + " and " +
                       EscapeForTerminal(ports[i], false) + " are the same device";
            }
        }
    }
    return {};
}

}  // namespace quillon
