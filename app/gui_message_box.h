#pragma once

#include "platform/message_box.h"

// Shows the core's message boxes (the HEX reader's German texts) as modal Qt message boxes
// with a warning icon and an OK button. The box always appears in the GUI thread: a call from
// another thread waits, through a blocking queued call, until the operator has confirmed it
// there. Without a Qt application the text goes to stderr.
//
// Installs the handler and returns the one it replaces.
MessageBoxHandler InstallGuiMessageBoxHandler();

// The handler itself: shows `text` (UTF-8) and returns once it has been confirmed.
void ShowGuiMessageBox(const std::string& text);
