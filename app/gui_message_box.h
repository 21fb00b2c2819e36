#pragma once

#include "window/window_message.h"

class QWidget;

namespace quillon {

// Shows `message` in a modal box over `parent` (none: a window of its own), in the GUI thread:
// the caption "Quillon", the message's icon, an OK button and its text as plain text (the
// reader's texts quote file content, "Nr. '<'", which is never read as markup). Returns once
// the operator has confirmed it.
void ShowMessageBox(QWidget* parent, const WindowMessage& message);

}  // namespace quillon
