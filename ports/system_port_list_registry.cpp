#include "platform/system_registry.h"
#include "ports/registry_port_walk.h"
#include "ports/system_port_list.h"

namespace quillon {

Status EnumerateSystemComPorts(std::vector<PortEntry>& ports) {
    SystemRegistry registry;
    return EnumerateRegistryComPorts(registry, ports);
}

}  // namespace quillon
