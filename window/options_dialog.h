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
// oldest one's echo is awaited; 1 is lock step. "Added baud rates", the rates the main
// window's baud rate list offers beside its own (AddedBaudRatesOfText); the main window shows
// the new list once the dialog is confirmed (MainWindowController::OnOptionsAccepted).
class OptionsDialog {
public:
    // The entry that opens it (the window's context menu; the system menu on Windows).
    static constexpr const char* kMenuEntry = "Options…";
    static constexpr const char* kTitle = "Options";
    static constexpr const char* kEchoWindowLabel = "Echo window (bytes):";
    static constexpr const char* kEchoWindowNote =
        "1 waits for each monitor byte's echo; up to 1024 for a board whose loader keeps up.";
    static constexpr const char* kAddedBaudRatesLabel = "Added baud rates:";
    static constexpr const char* kAddedBaudRatesNote =
        "E.g. 250000 1000000. The board's loader makes the rate nearest the host's that its "
        "clock allows (UART clock / (prescaler x (divider + 1))) and garbles every byte more "
        "than 3% off it; the adapter must make the rate too.";

    // The field that held what Accept refused.
    enum class Field { kEchoWindow, kAddedBaudRates };

    explicit OptionsDialog(const WindowSettings& settings);

    // The fields' texts when the dialog opens.
    const std::string& EchoWindowText() const { return m_echoWindowText; }
    const std::string& AddedBaudRatesText() const { return m_addedBaudRatesText; }

    // OK with the fields' texts as the operator left them: the settings changed and written
    // to `store` (a value only when it changed, the echo window always), or the message that
    // says what a field must hold (the dialog stays open, refusedField() names the field).
    [[nodiscard]] Status Accept(const std::string& echoWindowText,
                                const std::string& addedBaudRatesText, WindowSettings& settings,
                                SettingsStore& store);
    Field refusedField() const { return m_refusedField; }

private:
    std::string m_echoWindowText;
    std::string m_addedBaudRatesText;
    Field m_refusedField = Field::kEchoWindow;
};

// The log line Initialize starts with when the echo window is larger than lock step.
std::optional<std::string> EchoWindowLogLine(EchoWindow window);

}  // namespace quillon
