#pragma once

#include <string>

namespace quillon {

// This computer's host name (UTF-8), as the production record names the station's machine;
// empty when the system does not tell it. On POSIX systems QUILLON_HOST_NAME, when set, names
// it instead.
std::string HostName();

}  // namespace quillon
