#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "ports/com_ports.h"

namespace quillon {

struct ListedPort {
    std::string portName;
    std::string friendlyName;
    bool operator==(const ListedPort&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const ListedPort& port) {
    return out << "{" << port.portName << ", " << port.friendlyName << "}";
}

// Records every port an enumeration hands to its callback; the context is the collector.
struct PortCollector {
    std::vector<ListedPort> ports;
    std::size_t stopAfter = 0;  // stop the enumeration after this many ports; 0: never

    static int Callback(std::uintptr_t context, const ComPortInfo* info) {
        auto* self = reinterpret_cast<PortCollector*>(context);
        self->ports.push_back({info->portName, info->friendlyName});
        return self->stopAfter != 0 && self->ports.size() >= self->stopAfter ? 0 : 1;
    }
    std::uintptr_t context() { return reinterpret_cast<std::uintptr_t>(this); }
};

}  // namespace quillon
