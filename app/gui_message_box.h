#pragma once

#include "platform/message_box.h"

// Shows the core's message boxes (the HEX reader's German texts) as modal Qt message boxes
// with a warning icon and an OK button. The box always appears in the GUI thread: a call from
// another thread waits until the operator has confirmed it there. Without a Qt application the
// text goes to stderr.
//
// Installs the handler and returns the one it replaces.
MessageBoxHandler InstallGuiMessageBoxHandler();

// The handler itself: shows `text` (UTF-8) and returns once it has been confirmed.
void ShowGuiMessageBox(const std::string& text);

// While one of these lives, no call from another thread waits for the GUI thread: calls that
// are waiting return at once and later ones do not wait at all, their texts going to stderr.
// The GUI thread holds one while it waits for a worker that may be in such a call (a window
// destroyed while its job runs), so the two cannot wait for each other.
class GuiMessageBoxesWithdrawn {
public:
    GuiMessageBoxesWithdrawn();
    ~GuiMessageBoxesWithdrawn();
    GuiMessageBoxesWithdrawn(const GuiMessageBoxesWithdrawn&) = delete;
    GuiMessageBoxesWithdrawn& operator=(const GuiMessageBoxesWithdrawn&) = delete;
};
