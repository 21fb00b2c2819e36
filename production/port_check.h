#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quillon {

// True when the serial port `port` exists now (a device node, a COM name the system knows, or
// a port on the network, which only its connect can tell about).
bool PortPresent(const std::string& port);

// True when `a` and `b` both exist now and are one device (a link and the device itself, two
// links to it, two names of one COM port), or name one port of one server: the same port
// number on one host, by name or by an address that both hosts' names stand for (each name's
// every address, IPv4-mapped IPv6 addresses taken as IPv4).
bool PortsAreOneDevice(const std::string& a, const std::string& b);

// Two names among `ports` of one device, as PortsAreOneDevice tells (a link and the device
// itself, "127.0.0.1" and "localhost" for one server's port, say): two stations would talk to
// one board at once. Returns the message naming the pair, or empty. The hosts of network ports
// that share a port number are looked up together within the connect limit of a network port;
// `stop` ends that at once.
// Names that do not exist yet, or hosts that cannot be looked up, are left to their stations.
std::string SameDevice(const std::vector<std::string>& ports,
                       const std::function<bool()>& stop = {});

}  // namespace quillon
