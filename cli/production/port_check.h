#pragma once

#include <string>
#include <vector>

namespace quillon {

// True when the serial port `port` exists now (a device node, a COM name the system knows, or
// a port on the network, which only its connect can tell about).
bool PortPresent(const std::string& port);

// True when `a` and `b` both exist now and are one device (a link and the device itself, two
// links to it, two names of one COM port, two names of one server's port).
bool PortsAreOneDevice(const std::string& a, const std::string& b);

// Two names among `ports` of one device (a link and the device itself, say): two stations
// would talk to one board at once. Returns the message naming the pair, or empty. Names that
// do not exist yet are left to their stations.
std::string SameDevice(const std::vector<std::string>& ports);

}  // namespace quillon
