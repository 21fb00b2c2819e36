#pragma once

#include <string>

namespace quillon {

// A text the window shows in a modal message box with an OK button and the caption "Quillon":
// the HEX reader's texts (warning icon) and the help launcher's failures.
enum class MessageIcon { kWarning, kInformation };

struct WindowMessage {
    std::string text;  // UTF-8, shown as plain text
    MessageIcon icon = MessageIcon::kWarning;

    bool operator==(const WindowMessage&) const = default;
};

}  // namespace quillon
