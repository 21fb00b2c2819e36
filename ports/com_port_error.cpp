#include "ports/com_port_error.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {
thread_local ComPortError t_lastError = kErrorSuccess;
}  // namespace

ComPortError GetLastComPortError() {
    return t_lastError;
}

void SetLastComPortError(ComPortError code) {
    t_lastError = code;
#ifdef _WIN32
    ::SetLastError(static_cast<DWORD>(code));
#endif
}
