#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "window/window_lists.h"
#include "window/window_settings.h"

// The application object of the Win32 window: the operator's persistent choices (kept in the
// registry below HKEY_CURRENT_USER\<m_settingsKey>, laid out as the Qt window's QSettings
// writes them on Windows), start-up, and the help file. InitInstance runs the main window
// (template 102) as a modal dialog in the calling thread and saves the choices only when it
// ends with OK.
class CDownloadApp {
public:
    // What a test changes; a program leaves all of it as it is.
    struct Options {
        std::wstring settingsKey = L"Software\\Brenwick\\Quillon";
        std::string programDirectory;   // UTF-8; empty: the folder of the running .exe
        PortEnumerator enumeratePorts;  // empty: EnumerateComPorts
    };

    CDownloadApp();
    explicit CDownloadApp(Options options);
    ~CDownloadApp();
    CDownloadApp(const CDownloadApp&) = delete;
    CDownloadApp& operator=(const CDownloadApp&) = delete;

    // Reads the settings, runs the main window modally, writes the settings when it ended with
    // OK (1). Returns the dialog's result (1 OK, 2 Cancel, -1 when it could not be created).
    // `imageFile` (UTF-8, may be empty) goes into the image file field.
    int InitInstance(const std::string& imageFile = std::string());

    // Opens the help file with the program the shell associates with it; failures in one of
    // the two message boxes, owned by `owner`.
    void WinHelp(HWND owner);

    // The folder of the program (UTF-8): Options::programDirectory, else the running .exe's.
    std::string ProgramDirectory() const;

    static constexpr const char* kHelpFileName = "quillon_de.pdf";

    WindowSettings m_settings;              // Target, COMPort, Baudrate, EraseAll
    std::atomic<int> m_bEraseAll{1};        // read fresh by the download job in the worker
    std::string m_pszHelpFilePath;          // UTF-8, set by InitInstance
    std::atomic<HWND> m_pMainWnd{nullptr};  // the main window while it exists
    Options m_options;
};

// The one application object, or nullptr.
CDownloadApp* GetDownloadApp();
