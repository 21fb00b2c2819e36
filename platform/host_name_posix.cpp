#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/host_name.h"

namespace quillon {

std::string HostName() {
    // A name given for the station's PC (several stations of one PC told apart, or a test's
    // stations on "hosts" of their own) wins over the system's.
    if (const char* given = std::getenv("QUILLON_HOST_NAME"); given != nullptr && *given != '\0') {
        return given;
    }
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

}  // namespace quillon
