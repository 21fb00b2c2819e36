#include "app/download_app.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QIcon>
#include <QWidget>

#include "app/help_launcher.h"
#include "app/qt_settings_store.h"
#include "image/target_folders.h"
#include "window/window_settings.h"

static_assert(kDialogResultOk == QDialog::Accepted, "the OK result saves the settings");

namespace {

CDownloadApp* g_app = nullptr;

}  // namespace

CDownloadApp* GetDownloadApp() {
    return g_app;
}

CDownloadApp::CDownloadApp() {
    g_app = this;
}

CDownloadApp::~CDownloadApp() {
    if (g_app == this) {
        g_app = nullptr;
    }
}

bool CDownloadApp::InitInstance(const MainWindowFactory& createMainWindow) {
    // Beside the program, else in the installed tree's share folder; when neither holds it,
    // the path beside the program names the file that is missing.
    const std::string shipped =
        FindShippedFile(QCoreApplication::applicationDirPath().toStdString(), kHelpFileName);
    m_pszHelpFilePath =
        shipped.empty()
            ? QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QString(kHelpFileName))
            : QDir::toNativeSeparators(QString::fromStdString(shipped));
    LoadSettings();

    std::unique_ptr<QDialog> mainWindow = createMainWindow(*this);
    if (mainWindow) {
        m_pMainWnd = mainWindow.get();
        const int result = mainWindow->exec();
        if (SettingsSavedOn(result)) {
            SaveSettings();
        }
        m_pMainWnd = nullptr;
    }
    return false;
}

void CDownloadApp::LoadSettings() {
    QtSettingsStore store;
    const WindowSettings settings = LoadWindowSettings(store);
    m_strTarget = QString::fromStdString(settings.target);
    m_strComPort = QString::fromStdString(settings.comPort);
    m_strBaudrate = QString::fromStdString(settings.baudrate);
    m_bEraseAll = settings.eraseAll;
}

void CDownloadApp::SaveSettings() const {
    QtSettingsStore store;
    SaveWindowSettings(store, {m_strTarget.toStdString(), m_strComPort.toStdString(),
                               m_strBaudrate.toStdString(), m_bEraseAll.load()});
    store.Sync();
}

void CDownloadApp::WinHelp() {
    // F1 may come from the about box as well as from the main window.
    QWidget* owner = QApplication::activeWindow();
    ShowHelp(owner != nullptr ? owner : m_pMainWnd, m_pszHelpFilePath);
}

QIcon CDownloadApp::LoadAppIcon() {
    return QIcon(QStringLiteral(":/res/quillon.png"));
}
