#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "helpers/result.h"

namespace quillon {

// Where a port name leads: a local serial device ("/dev/ttyUSB0", "COM3"), or a serial port
// at the other end of a network connection: "rfc2217://HOST:PORT" (Telnet with the COM port
// option, which sets the line as a local port is set) or "socket://HOST:PORT" (raw TCP: the
// line settings are the server's). HOST is a name, an IPv4 address or an IPv6 address in
// brackets ("rfc2217://[::1]:7001").
struct PortAddress {
    enum class Kind { kLocal, kRfc2217, kRawTcp };
    Kind kind = Kind::kLocal;
    std::string host;        // network ports: without the brackets of an IPv6 address
    std::uint16_t port = 0;  // network ports: 1..65535

    bool IsNetwork() const { return kind != Kind::kLocal; }
    // Whether two network addresses name one port of one server by the same host name
    // (compared as written, without letter case); other names of one server are told by
    // their addresses (LookUpHosts).
    bool SameNetworkPort(const PortAddress& other) const;
};

// Reads a port name. Any name with "://" is a network port name; one that is not well formed
// is a kUsage error that says what is wrong (an unknown scheme, no host, a control character
// or '/' in the host, no port, a port that is no number, has a leading zero or is out of
// range, a path after the port) and shows the name with its control characters escaped.
[[nodiscard]] Result<PortAddress> ParsePortAddress(const std::string& name);

// Whether `name` is a network port name (it holds "://"), well formed or not.
bool IsNetworkPortName(const std::string& name);

// Checks `port` as the next station of a production run whose stations so far are `taken`: a
// name ParsePortAddress reads and not named before (two stations on one line would talk to one
// board at once). An error of kind kUsage saying which.
[[nodiscard]] Status CheckStationPort(const std::string& port,
                                      const std::vector<std::string>& taken);

}  // namespace quillon
