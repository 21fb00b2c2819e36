#include "platform/host_lookup.h"

#include <algorithm>

namespace quillon {

IpAddress IpAddress::Folded() const {
    // ::ffff:a.b.c.d: ten zero bytes, two 0xFF, then the IPv4 address.
    static constexpr std::array<std::uint8_t, 12> kMappedPrefix = {0, 0, 0, 0, 0,    0,
                                                                   0, 0, 0, 0, 0xFF, 0xFF};
    if (!v6 || !std::equal(kMappedPrefix.begin(), kMappedPrefix.end(), bytes.begin())) {
        return *this;
    }
    IpAddress v4;
    std::copy_n(bytes.begin() + 12, 4, v4.bytes.begin());
    return v4;
}

std::vector<HostAddresses> HostLookupResults(std::vector<HostLookupProgress> lookups) {
    std::vector<HostAddresses> results;
    results.reserve(lookups.size());
    for (HostLookupProgress& lookup : lookups) {
        if (lookup.error) {
            results.emplace_back(Fail(std::move(*lookup.error)));
        } else {
            results.emplace_back(std::move(lookup.addresses));
        }
    }
    return results;
}

}  // namespace quillon
