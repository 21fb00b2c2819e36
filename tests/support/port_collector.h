#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "ports/com_ports.h"

namespace quillon {

using ListedPort = PortEntry;

inline std::ostream& operator<<(std::ostream& out, const PortEntry& port) {
    return out << "{" << port.name << ", " << port.description << "}";
}

// What a listing gave: its ports, and its error's text ("error 5") when it failed.
struct PortCollector {
    std::vector<PortEntry> ports;
    std::string error;

    // 1 for a listing that succeeded, 0 for one that failed (its error kept).
    int Take(const Status& listed) {
        error = listed ? "" : listed.error().text;
        return listed ? 1 : 0;
    }
};

}  // namespace quillon
