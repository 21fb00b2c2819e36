#include "ports/com_ports.h"

#include <string>

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

int EnumerateComPorts(ComPortCallback callback, std::uintptr_t context) {
    if (callback == nullptr) {
        return EnumerateSystemComPorts(callback, context);  // fails as the system's listing does
    }
    Relay relay{callback, context};
    const int result =
        EnumerateSystemComPorts(&RelayPort, reinterpret_cast<std::uintptr_t>(&relay));
    // The user's network ports follow the system's, in the list's order.
    for (const NetworkPortEntry& entry : ReadNetworkPortList()) {
        if (relay.stopped) {
            break;
        }
        const std::string description = entry.name + " (network port)";
        const ComPortInfo info{entry.url.c_str(), description.c_str()};
        relay.stopped = callback(context, &info) == 0;
    }
    return result;
}

}  // namespace quillon
