#include <windows.h>

#include "platform/system_error.h"

void SetSystemLastError(std::uint32_t code) {
    ::SetLastError(static_cast<DWORD>(code));
}
