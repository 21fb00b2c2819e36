#include <sys/stat.h>

#include "platform/device_node.h"

namespace quillon {

bool LocalPortPresent(const std::string& port) {
    struct stat status {};
    return ::stat(port.c_str(), &status) == 0;
}

bool LocalPortsAreOneDevice(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) {
        return false;
    }
    // Two device nodes of one device count as well as two links to one node.
    return (first.st_dev == second.st_dev && first.st_ino == second.st_ino) ||
           (S_ISCHR(first.st_mode) && S_ISCHR(second.st_mode) && first.st_rdev == second.st_rdev);
}

bool LocalPortNamesMatch(const std::string&, const std::string&) {
    return false;
}

}  // namespace quillon
