#pragma once

#include <optional>
#include <string>

#include "helpers/result.h"
#include "link/echo_window.h"
#include "window/window_settings.h"

namespace quillon {

// What the Options dialog decides, whatever its toolkit: the line options the operator may
// change beside the main window's lists, shown as the settings hold them and, on OK, checked
// by the settings reader's own rule, taken into the settings and written to the store at once
// (the main window's OK or Cancel does not undo them). A field that does not hold a value the
// reader would take keeps the dialog open with a message, and nothing changes.
//
// The fields: "Echo window" (EchoWindow), the monitor bytes Initialize lets travel before the
// oldest one's echo is awaited; 1 is lock step.
class OptionsDialog {
public:
    // The entry that opens it (the window's context menu; the system menu on Windows).
    static constexpr const char* kMenuEntry = "Options…";
    static constexpr const char* kTitle = "Options";
    static constexpr const char* kEchoWindowLabel = "Echo window (bytes):";
    static constexpr const char* kEchoWindowNote =
        "1 waits for each monitor byte's echo; up to 1024 for a board whose loader keeps up.";

    explicit OptionsDialog(const WindowSettings& settings);

    // The fields' texts when the dialog opens.
    const std::string& EchoWindowText() const { return m_echoWindowText; }

    // OK with the fields' texts as the operator left them: the settings changed and written
    // to `store`, or the message that says what a field must hold (the dialog stays open).
    [[nodiscard]] Status Accept(const std::string& echoWindowText, WindowSettings& settings,
                                SettingsStore& store);

private:
    std::string m_echoWindowText;
};

// The log line Initialize starts with when the echo window is larger than lock step.
std::optional<std::string> EchoWindowLogLine(EchoWindow window);

}  // namespace quillon
