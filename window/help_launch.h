#pragma once

#include <string>

#include "helpers/result.h"
#include "window/window_message.h"

namespace quillon {

// Opening the help file (a PDF beside the program) in the platform's viewer fails with an error
// of kind kNotFound when the file or a viewer for it is missing, of another kind when a viewer
// exists but could not be started.

// What the window tells the operator about such an `error` for the help file `path` (as the
// platform writes paths):
//   kNotFound  "Die Hilfe '<path>' oder der Acrobat-Reader konnte nicht gefunden werden!"
//              with a warning icon
//   any other  "Fehler beim Starten des Acrobat-Readers!" with an information icon
WindowMessage HelpLaunchMessage(const Error& error, const std::string& path);

}  // namespace quillon
