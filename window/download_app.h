#pragma once

#include <functional>
#include <string>

#include "window/window_settings.h"

namespace quillon {

// The application around the main window, the same for every toolkit: the operator's choices
// (WindowSettings), read from the per-user store when the program starts and written back only
// when the main window ends with OK, and where the help file is. The Qt and the Win32
// application objects (CDownloadApp) add how their toolkit runs the window and opens the help.
class DownloadApp {
public:
    static constexpr const char* kHelpFileName = "quillon_de.pdf";

    // The help file of the program in `programDirectory`: beside it, else in the installed
    // tree's share folder; when neither holds it, the path beside the program names the file
    // that is missing. Windows paths with backslashes throughout.
    explicit DownloadApp(const std::string& programDirectory);

    // Reads Target, COMPort, Baudrate and EraseAll, with their defaults for what is missing,
    // and what the store says about a settings file it left alone.
    void LoadSettings(SettingsStore& store) {
        m_settings = LoadWindowSettings(store);
        m_settingsNote = store.Note();
    }
    // Writes Target, COMPort and Baudrate, then EraseAll.
    void SaveSettings(SettingsStore& store) const { SaveWindowSettings(store, m_settings); }

    // Start-up: reads the settings, runs the main window (`runMainWindow` returns the dialog's
    // result) and writes them back when it ended with OK. Returns the result.
    int Run(SettingsStore& store, const std::function<int()>& runMainWindow);

    WindowSettings m_settings;
    std::string m_settingsNote;  // the log line about a settings file left alone, else empty
    std::string m_helpFilePath;  // UTF-8
};

}  // namespace quillon
