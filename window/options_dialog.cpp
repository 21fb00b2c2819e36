#include "window/options_dialog.h"

namespace quillon {

OptionsDialog::OptionsDialog(const WindowSettings& settings)
    : m_echoWindowText(std::to_string(settings.echoWindow.bytes)) {}

Status OptionsDialog::Accept(const std::string& echoWindowText, WindowSettings& settings,
                             SettingsStore& store) {
    const Result<EchoWindow> echoWindow = EchoWindowOfText(echoWindowText);
    if (!echoWindow) {
        return Fail(ErrorKind::kUsage,
                    "The echo window must be " + echoWindow.error().text + " (bytes).");
    }
    settings.echoWindow = *echoWindow;
    SaveEchoWindow(store, *echoWindow);
    m_echoWindowText = std::to_string(echoWindow->bytes);
    return {};
}

std::optional<std::string> EchoWindowLogLine(EchoWindow window) {
    if (window.bytes <= EchoWindow::kLockStep) {
        return std::nullopt;
    }
    return "Echo window: " + std::to_string(window.bytes) + " bytes";
}

}  // namespace quillon
