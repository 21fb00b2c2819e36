#include <cstring>

#include "platform/system_error.h"

void SetSystemLastError(std::uint32_t) {}

std::string SystemErrorText(std::uint32_t code) {
    return std::strerror(static_cast<int>(code));
}
