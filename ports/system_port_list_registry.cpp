#include "ports/registry_port_walk.h"
#include "ports/system_port_list.h"
#include "ports/win32_registry.h"

namespace quillon {

int EnumerateSystemComPorts(ComPortCallback callback, std::uintptr_t context) {
    Win32Registry registry;
    return EnumerateRegistryComPorts(registry, callback, context);
}

}  // namespace quillon
