#include "ports/sysfs_port_scan.h"
#include "ports/system_port_list.h"

namespace quillon {

int EnumerateSystemComPorts(ComPortCallback callback, std::uintptr_t context) {
    return EnumerateSysfsComPorts(DefaultSysfsPortSources(), callback, context);
}

}  // namespace quillon
