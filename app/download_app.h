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
class QtDownloadApp : public DownloadApp {
public:
    static constexpr const char* kCompanyKey = kSettingsCompany;
    static constexpr const char* kProfileName = kSettingsProfile;

    using MainWindowFactory = std::function<std::unique_ptr<QDialog>(QtDownloadApp& app)>;

    // The help file beside the program (QCoreApplication::applicationDirPath).
    QtDownloadApp();
    ~QtDownloadApp();
    QtDownloadApp(const QtDownloadApp&) = delete;
    QtDownloadApp& operator=(const QtDownloadApp&) = delete;

    // Reads the settings, runs the window that `createMainWindow` makes as a modal dialog
    // and, when it ends with OK (QDialog::Accepted), writes the settings back. Returns the
    // dialog's result (0 when no window was made).
    int RunMainWindow(const MainWindowFactory& createMainWindow);

    // Reads the five settings from QSettings (DownloadApp::LoadSettings), or the defaults with
    // the settings note when the settings file is left alone (QtSettingsStore).
    void LoadSettings();

    // Opens the help file in the platform's PDF viewer; failures are reported in message boxes
    // over the active window.
    void OpenHelp();

    // The application icon.
    static QIcon LoadAppIcon();

    // The main window while it runs, else nullptr.
    QWidget* MainWindow() const { return m_mainWindow; }

private:
    QWidget* m_mainWindow = nullptr;
};

// The one application object, or nullptr before it is constructed and after it is destroyed.
QtDownloadApp* GetDownloadApp();

}  // namespace quillon
