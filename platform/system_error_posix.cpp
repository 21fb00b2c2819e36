#include <cstring>

#include "platform/system_error.h"

namespace quillon {

void SetSystemLastError(std::uint32_t) {}

std::string SystemErrorText(std::uint32_t code) {
    return std::strerror(static_cast<int>(code));
}

}  // namespace quillon
