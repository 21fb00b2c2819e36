#pragma once

#include <optional>
#include <string>

#include "window/window_message.h"

namespace quillon {

// How opening the help file (a PDF beside the program) in the platform's viewer went.
enum class HelpLaunch {
    kOpened,       // the viewer was started with the file
    kNotFound,     // the file or a viewer for it is missing
    kStartFailed,  // a viewer exists but could not be started
};

// What the window tells the operator about `result` for the help file `path` (as the platform
// writes paths), or nothing when the viewer was started:
//   kNotFound     "Die Hilfe '<path>' oder der Acrobat-Reader konnte nicht gefunden werden!"
//                 with a warning icon
//   kStartFailed  "Fehler beim Starten des Acrobat-Readers!" with an information icon
std::optional<WindowMessage> HelpLaunchMessage(HelpLaunch result, const std::string& path);

}  // namespace quillon
