#include "platform/system_error.h"

void SetSystemLastError(std::uint32_t) {}
