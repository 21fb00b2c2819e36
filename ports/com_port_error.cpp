#include "ports/com_port_error.h"

#include "platform/system_error.h"

namespace quillon {

namespace {
thread_local ComPortError t_lastError = kErrorSuccess;
}  // namespace

ComPortError GetLastComPortError() {
    return t_lastError;
}

void SetLastComPortError(ComPortError code) {
    t_lastError = code;
    SetSystemLastError(code);
}

}  // namespace quillon
