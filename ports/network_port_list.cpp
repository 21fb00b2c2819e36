#include "ports/network_port_list.h"

#include <sstream>

namespace quillon {

std::vector<NetworkPortEntry> ParseNetworkPortList(const std::string& text) {
    std::vector<NetworkPortEntry> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::size_t tab = line.find('\t');
        if (line.empty() || line.front() == '#' || tab == std::string::npos) {
            continue;
        }
        NetworkPortEntry entry{line.substr(0, tab), line.substr(tab + 1)};
        if (!entry.url.empty()) {
            entries.push_back(std::move(entry));
        }
    }
    return entries;
}

}  // namespace quillon
