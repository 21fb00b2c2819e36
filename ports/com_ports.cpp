#include "ports/com_ports.h"

#include <string>

#include "helpers/text_format.h"
#include "ports/network_port_list.h"
#include "ports/system_port_list.h"

namespace quillon {

namespace {

// The caller's callback and context, and whether it stopped the listing.
struct Relay {
    ComPortCallback callback;
    std::uintptr_t context;
    bool stopped = false;
};

int RelayPort(std::uintptr_t context, const ComPortInfo* info) {
    auto& relay = *reinterpret_cast<Relay*>(context);
    relay.stopped = relay.callback(relay.context, info) == 0;
    return relay.stopped ? 0 : 1;
}

}  // namespace

int EnumerateComPorts(ComPortCallback callback, std::uintptr_t context,
                      std::vector<std::string>* notes) {
    if (callback == nullptr) {
        return EnumerateSystemComPorts(callback, context);  // fails as the system's listing does
    }
    Relay relay{callback, context};
    const int result =
        EnumerateSystemComPorts(&RelayPort, reinterpret_cast<std::uintptr_t>(&relay));
    // The user's ports follow the system's, in the list's order.
    NetworkPortList list = ReadNetworkPortList();
    if (notes != nullptr) {
        notes->insert(notes->end(), list.notes.begin(), list.notes.end());
    }
    for (const NetworkPortEntry& entry : list.entries) {
        if (relay.stopped) {
            break;
        }
        const std::string description =
            EscapeForTerminal(entry.name, false) + (entry.network ? " (network port)" : "");
        const ComPortInfo info{entry.port.c_str(), description.c_str()};
        relay.stopped = callback(context, &info) == 0;
    }
    return result;
}

}  // namespace quillon
