#include "link/port_address.h"

#include <cctype>

#include "helpers/ascii_case.h"

namespace quillon {

namespace {

PortAddress Malformed(const std::string& name, const std::string& why) {
    PortAddress address;
    address.error = "malformed network port name '" + name + "' (" + why +
                    "): expected rfc2217://HOST:PORT or socket://HOST:PORT";
    return address;
}

}  // namespace

bool PortAddress::SameNetworkPort(const PortAddress& other) const {
    return IsNetwork() && other.IsNetwork() && port == other.port &&
           EqualIgnoringCase(host, other.host);
}

PortAddress ParsePortAddress(const std::string& name) {
    const std::size_t separator = name.find("://");
    if (separator == std::string::npos) {
        return {};  // a local device
    }
    const std::string scheme = name.substr(0, separator);
    PortAddress address;
    if (EqualIgnoringCase(scheme, "rfc2217")) {
        address.kind = PortAddress::Kind::kRfc2217;
    } else if (EqualIgnoringCase(scheme, "socket")) {
        address.kind = PortAddress::Kind::kRawTcp;
    } else {
        return Malformed(name, "unknown scheme");
    }
    const std::string rest = name.substr(separator + 3);
    std::size_t portStart = 0;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            return Malformed(name, "an IPv6 address goes in brackets, then ':' and the port");
        }
        address.host = rest.substr(1, close - 1);
        portStart = close + 2;
    } else {
        const std::size_t colon = rest.rfind(':');
        if (colon == std::string::npos) {
            return Malformed(name, "no port");
        }
        address.host = rest.substr(0, colon);
        if (address.host.find(':') != std::string::npos) {
            return Malformed(name, "an IPv6 address goes in brackets");
        }
        portStart = colon + 1;
    }
    if (address.host.empty()) {
        return Malformed(name, "no host");
    }
    for (const char c : address.host) {
        if (std::isspace(static_cast<unsigned char>(c)) || c == '/' || c == '@' || c == '[' ||
            c == ']') {
            return Malformed(name, "not a host name");
        }
    }
    const std::string portText = rest.substr(portStart);
    if (portText.empty() || portText.size() > 5) {
        return Malformed(name, portText.empty() ? "no port" : "port out of range");
    }
    unsigned long port = 0;
    for (const char c : portText) {
        if (c < '0' || c > '9') {
            return Malformed(name, "the port is not a number");
        }
        port = port * 10 + static_cast<unsigned long>(c - '0');
    }
    if (port == 0 || port > 65535) {
        return Malformed(name, "port out of range");
    }
    address.port = static_cast<std::uint16_t>(port);
    return address;
}

}  // namespace quillon
