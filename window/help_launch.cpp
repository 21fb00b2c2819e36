#include "window/help_launch.h"

namespace quillon {

WindowMessage HelpLaunchMessage(const Error& error, const std::string& path) {
    if (error.kind == ErrorKind::kNotFound) {
        return WindowMessage{
            "Die Hilfe '" + path + "' oder der Acrobat-Reader konnte nicht gefunden werden!",
            MessageIcon::kWarning};
    }
    return WindowMessage{"Fehler beim Starten des Acrobat-Readers!", MessageIcon::kInformation};
}

}  // namespace quillon
