#include "app/download_app.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QIcon>
#include <QSettings>
#include <QWidget>

#include "app/help_launcher.h"
#include "image/target_folders.h"

namespace {

CDownloadApp* g_app = nullptr;

constexpr const char* kTargetKey = "Last Connection/Target";
constexpr const char* kComPortKey = "Last Connection/COMPort";
constexpr const char* kBaudrateKey = "Last Connection/Baudrate";
constexpr const char* kEraseAllKey = "Settings/EraseAll";

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
        if (result == QDialog::Accepted) {
            SaveSettings();
        }
        m_pMainWnd = nullptr;
    }
    return false;
}

void CDownloadApp::LoadSettings() {
    QSettings settings(kCompanyKey, kProfileName);
    m_strTarget = settings.value(kTargetKey, QString()).toString();
    m_strComPort = settings.value(kComPortKey, QStringLiteral("COM1")).toString();
    m_strBaudrate = settings.value(kBaudrateKey, QStringLiteral("57600")).toString();

    bool isNumber = false;
    const int eraseAll = settings.value(kEraseAllKey, 1).toInt(&isNumber);
    m_bEraseAll = !isNumber || eraseAll != 0 ? 1 : 0;
}

void CDownloadApp::SaveSettings() const {
    QSettings settings(kCompanyKey, kProfileName);
    settings.setValue(kTargetKey, m_strTarget);
    settings.setValue(kComPortKey, m_strComPort);
    settings.setValue(kBaudrateKey, m_strBaudrate);
    settings.setValue(kEraseAllKey, m_bEraseAll.load());
    settings.sync();
}

void CDownloadApp::WinHelp() {
    // F1 may come from the about box as well as from the main window.
    QWidget* owner = QApplication::activeWindow();
    ShowHelp(owner != nullptr ? owner : m_pMainWnd, m_pszHelpFilePath);
}

QIcon CDownloadApp::LoadAppIcon() {
    return QIcon(QStringLiteral(":/res/quillon.png"));
}
