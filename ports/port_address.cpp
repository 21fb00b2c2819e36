#include "ports/port_address.h"

#include <algorithm>
#include <cctype>

#include "helpers/ascii_case.h"
#include "helpers/text_format.h"

namespace quillon {

namespace {

Unexpected<Error> Malformed(const std::string& name, const std::string& why) {
    return Fail(ErrorKind::kUsage, "malformed network port name '" +
                                       EscapeForTerminal(name, false) + "' (" + why +
                                       "): expected rfc2217://HOST:PORT or socket://HOST:PORT");
}

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

// Why `host` is no host name or address, or empty when it may be one.
std::string HostMistake(const std::string& host) {
    if (host.empty()) {
        return "no host";
    }
    for (const char c : host) {
        if (IsControl(c)) {
            return "a control character in the host";
        }
        if (c == ' ' || c == '/' || c == '@' || c == '[' || c == ']') {
            return std::string("'") + c + "' in the host";
        }
    }
    return {};
}

// The port number `portText` of the network port name `name`: 1 to 65535, digits only,
// without a leading zero.
Result<std::uint16_t> PortNumber(const std::string& name, const std::string& portText) {
    std::size_t digits = 0;
    while (digits < portText.size() && portText[digits] >= '0' && portText[digits] <= '9') {
        ++digits;
    }
    if (portText.empty()) {
        return Malformed(name, "no port");
    }
    if (digits < portText.size()) {
        return Malformed(name, digits > 0 && portText[digits] == '/' ? "a path after the port"
                                                                     : "the port is not a number");
    }
    if (portText.front() == '0') {
        return Malformed(name, digits == 1 ? "port 0 is no port" : "the port has a leading zero");
    }
    const std::optional<std::int64_t> number = DecimalInRange(portText, 1, 65535);
    if (!number) {
        return Malformed(name, "port out of range (1 to 65535)");
    }
    return static_cast<std::uint16_t>(*number);
}

}  // namespace

bool PortAddress::SameNetworkPort(const PortAddress& other) const {
    return IsNetwork() && other.IsNetwork() && port == other.port &&
           EqualIgnoringCase(host, other.host);
}

bool IsNetworkPortName(const std::string& name) {
    return name.find("://") != std::string::npos;
}

Result<PortAddress> ParsePortAddress(const std::string& name) {
    if (!IsNetworkPortName(name)) {
        return PortAddress{};  // a local device
    }
    const std::size_t separator = name.find("://");
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
        // The port follows the host's colon; a path after the port must not hide that colon.
        std::size_t colon = rest.rfind(':', rest.find('/'));
        if (colon == std::string::npos) {
            colon = rest.rfind(':');
        }
        if (colon == std::string::npos) {
            return Malformed(name, "no port");
        }
        address.host = rest.substr(0, colon);
        if (address.host.find(':') != std::string::npos) {
            return Malformed(name, "an IPv6 address goes in brackets");
        }
        portStart = colon + 1;
    }
    if (const std::string mistake = HostMistake(address.host); !mistake.empty()) {
        return Malformed(name, mistake);
    }
    Result<std::uint16_t> port = PortNumber(name, rest.substr(portStart));
    if (!port) {
        return Fail(std::move(port).error());
    }
    address.port = *port;
    return address;
}

Status CheckStationPort(const std::string& port, const std::vector<std::string>& taken) {
    if (const Result<PortAddress> address = ParsePortAddress(port); !address) {
        return Fail(address.error());
    }
    if (std::find(taken.begin(), taken.end(), port) != taken.end()) {
        return Fail(ErrorKind::kUsage, "port " + port + " is named twice");
    }
    return {};
}

}  // namespace quillon
