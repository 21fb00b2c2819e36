#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "window/download_app.h"

class QDialog;
class QIcon;
class QWidget;

namespace quillon {

// The application object of the Qt window: the settings and the help file path of DownloadApp,
// kept in QSettings (organisation "Brenwick", application "Quillon": an INI file in the user's
// configuration folder), the main window run as a modal dialog, and the help opened in the
// desktop's PDF viewer. One instance lives for the whole program (see GetDownloadApp).
class CDownloadApp : public DownloadApp {
public:
    static constexpr const char* kCompanyKey = kSettingsCompany;
    static constexpr const char* kProfileName = kSettingsProfile;

    using MainWindowFactory = std::function<std::unique_ptr<QDialog>(CDownloadApp& app)>;

    // The help file beside the program (QCoreApplication::applicationDirPath).
    CDownloadApp();
    ~CDownloadApp();
    CDownloadApp(const CDownloadApp&) = delete;
    CDownloadApp& operator=(const CDownloadApp&) = delete;

    // Start-up: reads the settings, runs the window that `createMainWindow` makes as a modal
    // dialog and, when it ends with OK (QDialog::Accepted), writes the settings back. Returns
    // false: the program ends afterwards.
    bool InitInstance(const MainWindowFactory& createMainWindow);

    // Reads the four settings from QSettings (DownloadApp::LoadSettings), or the defaults with
    // m_settingsNote when the settings file is left alone (QtSettingsStore).
    void LoadSettings();

    // Opens the help file in the platform's PDF viewer; failures are reported in message boxes
    // over the active window.
    void WinHelp();

    // The application icon.
    static QIcon LoadAppIcon();

    QWidget* m_mainWindow = nullptr;  // the main window while it runs
};

// The one application object, or nullptr before it is constructed and after it is destroyed.
CDownloadApp* GetDownloadApp();

}  // namespace quillon
