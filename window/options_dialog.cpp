#include "window/options_dialog.h"

namespace quillon {

OptionsDialog::OptionsDialog(const WindowSettings& settings)
    : m_echoWindowText(std::to_string(settings.echoWindow.bytes)),
      m_addedBaudRatesText(quillon::AddedBaudRatesText(settings.addedBaudRates)) {}

Status OptionsDialog::Accept(const std::string& echoWindowText,
                             const std::string& addedBaudRatesText, WindowSettings& settings,
                             SettingsStore& store) {
    const Result<EchoWindow> echoWindow = EchoWindowOfText(echoWindowText);
    if (!echoWindow) {
        m_refusedField = Field::kEchoWindow;
        return Fail(ErrorKind::kUsage,
                    "The echo window must be " + echoWindow.error().text + " (bytes).");
    }
    const Result<std::vector<BaudRate>> added = AddedBaudRatesOfText(addedBaudRatesText);
    if (!added) {
        m_refusedField = Field::kAddedBaudRates;
        return Fail(ErrorKind::kUsage, "The added baud rates must be " + added.error().text + ".");
    }
    settings.echoWindow = *echoWindow;
    SaveEchoWindow(store, *echoWindow);
    m_echoWindowText = std::to_string(echoWindow->bytes);
    if (*added != settings.addedBaudRates) {
        settings.addedBaudRates = *added;
        SaveAddedBaudRates(store, *added);
    }
    m_addedBaudRatesText = quillon::AddedBaudRatesText(*added);
    return {};
}

std::optional<std::string> EchoWindowLogLine(EchoWindow window) {
    if (window.bytes <= EchoWindow::kLockStep) {
        return std::nullopt;
    }
    return "Echo window: " + std::to_string(window.bytes) + " bytes";
}

}  // namespace quillon
