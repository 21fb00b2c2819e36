#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "helpers/result.h"
#include "platform/clock.h"

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

// The addresses a host stands for, in the order they should be tried, or why there are none
// ("host not found", "name look-up timed out", "aborted", or the resolver's own reason).
using HostAddresses = Result<std::vector<IpAddress>>;

// Looks up every one of `hosts` (names, IPv4 addresses, IPv6 addresses without brackets) at
// once, without blocking the caller beyond `timeoutMs` in all: a name server that never answers
// ends in "name look-up timed out", and `stop` (asked at least every 20 ms) drops every
// look-up still going at once ("aborted"). No thread is left behind: on POSIX systems the
// resolver's sockets are waited for in this thread, on Windows a look-up still pending is
// cancelled and cleans up after itself. Addresses come in the order they should be tried.
// The limit is kept on `clock`.
[[nodiscard]] std::vector<HostAddresses> LookUpHosts(const std::vector<std::string>& hosts,
                                                     std::uint32_t timeoutMs,
                                                     const std::function<bool()>& stop,
                                                     Clock& clock = SystemClock());

// What a backend learns of one host while its look-up runs: the addresses so far, or why none.
struct HostLookupProgress {
    std::vector<IpAddress> addresses;
    std::optional<Error> error;
};
// The answers of the look-ups as their results.
std::vector<HostAddresses> HostLookupResults(std::vector<HostLookupProgress> lookups);

}  // namespace quillon
