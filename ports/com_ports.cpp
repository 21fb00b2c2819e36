#include "ports/com_ports.h"

#include "helpers/text_format.h"
#include "ports/network_port_list.h"
#include "ports/system_port_list.h"

namespace quillon {

Status EnumerateComPorts(std::vector<PortEntry>& ports, std::vector<std::string>* notes) {
    const Status listed = EnumerateSystemComPorts(ports);
    // The user's ports follow the system's, in the list's order.
    NetworkPortList list = ReadNetworkPortList();
    if (notes != nullptr) {
        notes->insert(notes->end(), list.notes.begin(), list.notes.end());
    }
    for (const NetworkPortEntry& entry : list.entries) {
        ports.push_back({entry.port, EscapeForTerminal(entry.name, false) +
                                         (entry.network ? " (network port)" : "")});
    }
    return listed;
}

}  // namespace quillon
