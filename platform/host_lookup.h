#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillon {

// One IP address of a host: IPv4 (the first 4 bytes) or IPv6 (all 16, and the scope of a
// link-local address).
struct IpAddress {
    bool v6 = false;
    std::array<std::uint8_t, 16> bytes{};
    std::uint32_t scope = 0;

    // An IPv4-mapped IPv6 address (::ffff:a.b.c.d) as the IPv4 address it stands for; any
    // other address as it is.
    IpAddress Folded() const;
    bool operator==(const IpAddress&) const = default;
};

// The addresses a host stands for, or why there are none.
struct HostLookup {
    std::vector<IpAddress> addresses;
    // Empty when found; else in a few words: "host not found", "name look-up timed out",
    // "aborted", or the resolver's own reason.
    std::string reason;
    bool ok() const { return reason.empty(); }
};

// Looks up every one of `hosts` (names, IPv4 addresses, IPv6 addresses without brackets) at
// once, without blocking the caller beyond `timeoutMs` in all: a name server that never answers
// ends in "name look-up timed out", and `stop` (asked at least every 20 ms) drops every
// look-up still going at once ("aborted"). No thread is left behind: on POSIX systems the
// resolver's sockets are waited for in this thread, on Windows a look-up still pending is
// cancelled and cleans up after itself. Addresses come in the order they should be tried.
[[nodiscard]] std::vector<HostLookup> LookUpHosts(const std::vector<std::string>& hosts,
                                                  std::uint32_t timeoutMs,
                                                  const std::function<bool()>& stop);

}  // namespace quillon
