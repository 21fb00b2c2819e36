#pragma once

#include <cstdint>
#include <string>

// The system menu of a top-level window, where the platform gives windows one (Windows).
// Elsewhere there is none: HasSystemMenu is false and the other functions do nothing. `window`
// is the native window handle (QWidget::winId()).

bool HasSystemMenu(std::uintptr_t window);

// Appends a separator and then an entry with `text` (UTF-8; "&" marks the mnemonic) that sends
// `command` as a system command.
void AppendSystemMenuEntry(std::uintptr_t window, unsigned command, const std::string& text);

// Grays or enables the menu's Close entry. Grayed, it also disables the caption's close button
// and Alt+F4.
void EnableSystemMenuClose(std::uintptr_t window, bool enable);

// For a native window message that is a system command, its command with the low four bits
// cleared (they carry the platform's own flags); for any other message 0.
unsigned SystemCommandOf(const void* nativeMessage);
