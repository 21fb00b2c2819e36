#pragma once

#include <windows.h>

#include "window/window_message.h"

namespace quillon {

// Shows `message` in a modal Win32 message box: the caption "Quillon", an OK button and the
// message's icon (exclamation for a warning, information). With an owner the box is modal to
// it; without one it is task-modal and comes to the front. Returns once it was confirmed.
void ShowMessageBox(HWND owner, const WindowMessage& message);

}  // namespace quillon
