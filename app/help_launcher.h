#pragma once

#include <QString>
#include <functional>

#include "window/help_launch.h"

class QWidget;

namespace quillon {

// What the desktop opener's exit tells: exit status 0 opened the file; 2 (a file is missing)
// and 3 (no program for the file) mean nothing was found (kNotFound); any other status, or an
// opener that did not exit normally, failed to start the viewer (kFailed).
Status HelpLaunchFromOpenerExit(bool exitedNormally, int exitCode);

// Opens the PDF file `path` in the viewer the platform associates with it. The path goes to
// the platform as a file URL, never through a shell or a command line, so spaces and other
// special characters in it are safe. Shows the wait cursor while the viewer starts.
//
// Fails as HelpLaunchMessage tells. On desktops where the file goes to the desktop's opener
// program (xdg-open), success only says the opener has started: it runs on without blocking the
// caller, and when it exits with a failure, `onOpenerFailed` gets what HelpLaunchFromOpenerExit
// makes of its exit, in the GUI thread.
Status LaunchHelpViewer(const QString& path,
                        const std::function<void(const Error&)>& onOpenerFailed = {});

// LaunchHelpViewer, reporting a failure, also one the opener reports later, to the operator in
// a modal message box over `parent` (over the active window once `parent` is gone), in the
// words of HelpLaunchMessage.
void ShowHelp(QWidget* parent, const QString& path);

}  // namespace quillon
