#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <memory>

#include "window/window_settings.h"

class QDialog;
class QIcon;
class QWidget;

// The application object: the operator's persistent choices, start-up and the help file.
// One instance lives for the whole program (see GetDownloadApp); start-up runs the main window
// as a modal dialog and saves the choices only when that dialog ends with OK.
class CDownloadApp {
public:
    // Where the choices are kept: organisation and application of the per-user settings store
    // (the registry on Windows, an INI file elsewhere), and the sections and values in it.
    static constexpr const char* kCompanyKey = kSettingsCompany;
    static constexpr const char* kProfileName = kSettingsProfile;
    static constexpr const char* kHelpFileName = "quillon_de.pdf";

    using MainWindowFactory = std::function<std::unique_ptr<QDialog>(CDownloadApp& app)>;

    CDownloadApp();
    ~CDownloadApp();
    CDownloadApp(const CDownloadApp&) = delete;
    CDownloadApp& operator=(const CDownloadApp&) = delete;

    // Start-up: sets the help file path, reads the settings, runs the window that
    // `createMainWindow` makes as a modal dialog and, when it ends with OK (QDialog::Accepted),
    // writes the settings back. Returns false: the program ends afterwards.
    bool InitInstance(const MainWindowFactory& createMainWindow);

    // Reads Target, COMPort, Baudrate and EraseAll (LoadWindowSettings through a
    // QtSettingsStore); missing or unreadable values give their defaults, and any nonzero
    // EraseAll reads as 1.
    void LoadSettings();
    // Writes Target, COMPort and Baudrate ("Last Connection") and then EraseAll ("Settings")
    // (SaveWindowSettings).
    void SaveSettings() const;

    // Opens the help file in the platform's PDF viewer; failures are reported in message boxes
    // over the active window.
    void WinHelp();

    // The application icon (icon resource 128).
    static QIcon LoadAppIcon();

    QString m_strTarget;    // display name of the last used target
    QString m_strComPort;   // last used serial port, e.g. "COM1"
    QString m_strBaudrate;  // last used baud rate as decimal text, e.g. "57600"
    // 1 when every sector up to the monitor's erase-all count is erased before programming.
    // Written by the window's thread, read fresh by the download job in the worker thread.
    std::atomic<int> m_bEraseAll{0};
    QString m_pszHelpFilePath;      // full path of the help file, set by InitInstance
    QWidget* m_pMainWnd = nullptr;  // the main window while it runs
};

// The one application object, or nullptr before it is constructed and after it is destroyed.
CDownloadApp* GetDownloadApp();
