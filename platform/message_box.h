#pragma once

#include <functional>
#include <string>

// Modal message boxes for the parts of the core that report to the operator directly (the
// HEX reader). A call blocks the calling thread until the operator has confirmed the text.
// The front end decides how a box is shown by installing a handler; without one the text goes
// to stderr, one line per message.

using MessageBoxHandler = std::function<void(const std::string& text)>;

// Shows `text` (UTF-8) and returns once it has been confirmed.
void ShowMessageBox(const std::string& text);

// Installs `handler` for every later ShowMessageBox call, from any thread, and returns the
// handler it replaces. An empty handler restores the stderr default.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
