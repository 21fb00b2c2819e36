#include "window/help_launch.h"

namespace quillon {

std::optional<WindowMessage> HelpLaunchMessage(HelpLaunch result, const std::string& path) {
    switch (result) {
        case HelpLaunch::kNotFound:
            return WindowMessage{
                "Die Hilfe '" + path + "' oder der Acrobat-Reader konnte nicht gefunden werden!",
                MessageIcon::kWarning};
        case HelpLaunch::kStartFailed:
            return WindowMessage{"Fehler beim Starten des Acrobat-Readers!",
                                 MessageIcon::kInformation};
        case HelpLaunch::kOpened:
            break;
    }
    return std::nullopt;
}

}  // namespace quillon
