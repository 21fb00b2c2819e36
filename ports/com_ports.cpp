#include "ports/com_ports.h"

#ifdef _WIN32
#include "ports/registry_port_walk.h"
#include "ports/win32_registry.h"
#else
#include "ports/sysfs_port_scan.h"
#endif

int EnumerateComPorts(ComPortCallback callback, std::uintptr_t context) {
#ifdef _WIN32
    Win32Registry registry;
    return EnumerateRegistryComPorts(registry, callback, context);
#else
    return EnumerateSysfsComPorts(DefaultSysfsPortSources(), callback, context);
#endif
}
