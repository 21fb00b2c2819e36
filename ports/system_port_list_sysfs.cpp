#include "ports/sysfs_port_scan.h"
#include "ports/system_port_list.h"

namespace quillon {

Status EnumerateSystemComPorts(std::vector<PortEntry>& ports) {
    return EnumerateSysfsComPorts(DefaultSysfsPortSources(), ports);
}

}  // namespace quillon
