#include "app/download_app.h"

#include <QApplication>
#include <QDialog>
#include <QIcon>
#include <QWidget>
#include <cstdio>

#include "app/help_launcher.h"
#include "app/qt_settings_store.h"

namespace quillon {

static_assert(kDialogResultOk == QDialog::Accepted, "the OK result saves the settings");

namespace {

QtDownloadApp* g_app = nullptr;

}  // namespace

QtDownloadApp* GetDownloadApp() {
    return g_app;
}

QtDownloadApp::QtDownloadApp() : DownloadApp(QCoreApplication::applicationDirPath().toStdString()) {
    g_app = this;
}

QtDownloadApp::~QtDownloadApp() {
    if (g_app == this) {
        g_app = nullptr;
    }
}

int QtDownloadApp::RunMainWindow(const MainWindowFactory& createMainWindow) {
    QtSettingsStore store;
    const int result = Run(store, [&] {
        const std::unique_ptr<QDialog> mainWindow = createMainWindow(*this);
        if (!mainWindow) {
            return 0;
        }
        m_mainWindow = mainWindow.get();
        const int result = mainWindow->exec();
        m_mainWindow = nullptr;
        return result;
    });  // the window, its job ended and its line closed, is gone before the settings are saved
    // A settings file that something else took the place of while the window ran: the window
    // is gone, so its one place to say that the settings went unsaved is stderr.
    if (store.Note() != SettingsNote()) {
        std::fprintf(stderr, "quillon: %s\n", store.Note().c_str());
    }
    return result;
}

void QtDownloadApp::LoadSettings() {
    QtSettingsStore store;
    DownloadApp::LoadSettings(store);
}

void QtDownloadApp::OpenHelp() {
    // F1 may come from the about box as well as from the main window.
    QWidget* owner = QApplication::activeWindow();
    ShowHelp(owner != nullptr ? owner : m_mainWindow, QString::fromStdString(HelpFilePath()));
}

QIcon QtDownloadApp::LoadAppIcon() {
    return QIcon(QStringLiteral(":/res/quillon.png"));
}

}  // namespace quillon
