#pragma once

#include <functional>
#include <string>
#include <utility>

#include "window/window_command_line.h"
#include "window/window_settings.h"

namespace quillon {

// The application around the main window, the same for every toolkit: the operator's choices
// (WindowSettings), read from the per-user store when the program starts and written back only
// when the main window ends with OK (the Options dialog writes its own when it is confirmed), and
// where the help file is. The Qt and the Win32 application objects (QtDownloadApp,
// Win32DownloadApp) add how their toolkit runs the window and opens the help.
class DownloadApp {
public:
    static constexpr const char* kHelpFileName = "quillon_de.pdf";

    // The help file of the program in `programDirectory`: beside it, else in the installed
    // tree's share folder; when neither holds it, the path beside the program names the file
    // that is missing. Windows paths with backslashes throughout.
    explicit DownloadApp(const std::string& programDirectory);

    // Reads the five settings, with their defaults for what is missing, and what the store
    // says about a settings file it left alone.
    void LoadSettings(SettingsStore& store) {
        m_settings = LoadWindowSettings(store);
        m_settingsNote = store.Note();
    }
    // Writes Target, COMPort and Baudrate, then EraseAll.
    void SaveSettings(SettingsStore& store) const { SaveWindowSettings(store, m_settings); }

    // Start-up: reads the settings, runs the main window (`runMainWindow` returns the dialog's
    // result) and writes them back when it ended with OK. Returns the result.
    int Run(SettingsStore& store, const std::function<int()>& runMainWindow);

    // The operator's choices; the main window records its selections here.
    WindowSettings& Settings() { return m_settings; }
    const WindowSettings& Settings() const { return m_settings; }
    // What the command line selects for this start; the main window selects it and never
    // records it in the settings.
    const StartSelection& Start() const { return m_start; }
    void SetStart(StartSelection selection) { m_start = std::move(selection); }
    // The log line about a settings file left alone, else empty.
    const std::string& SettingsNote() const { return m_settingsNote; }
    // The help file (UTF-8), and another in its place.
    const std::string& HelpFilePath() const { return m_helpFilePath; }
    void SetHelpFilePath(std::string path) { m_helpFilePath = std::move(path); }

private:
    WindowSettings m_settings;
    std::string m_settingsNote;
    std::string m_helpFilePath;
    StartSelection m_start;
};

}  // namespace quillon
