#pragma once

#include <QString>

class QWidget;

enum class HelpLaunch {
    kOpened,       // the viewer was started with the file
    kNotFound,     // the file or a viewer for it is missing
    kStartFailed,  // a viewer exists but could not be started
};

// Opens the PDF file `path` in the viewer the platform associates with it. The path goes to
// the platform as a file URL, never through a shell or a command line, so spaces and other
// special characters in it are safe. Shows the wait cursor while the viewer starts.
HelpLaunch LaunchHelpViewer(const QString& path);

// LaunchHelpViewer, reporting a failure to the operator in a modal message box over `parent`:
// "Die Hilfe '<path>' oder der Acrobat-Reader konnte nicht gefunden werden!" (warning) or
// "Fehler beim Starten des Acrobat-Readers!" (information).
void ShowHelp(QWidget* parent, const QString& path);
