#include "app/help_launcher.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <QUrl>

#ifdef Q_OS_WIN
#include <shellapi.h>
#include <windows.h>
#endif

namespace {

// Whether the platform has a program that opens `path`. Windows answers through the file
// association; on other desktops the files are handed to the desktop's opener, which has to be
// installed.
bool HasViewerFor(const QString& path) {
#if defined(Q_OS_WIN)
    wchar_t viewer[MAX_PATH] = {};
    const std::wstring file = QDir::toNativeSeparators(path).toStdWString();
    const auto result = reinterpret_cast<INT_PTR>(FindExecutableW(file.c_str(), L"", viewer));
    return result > 32;
#elif defined(Q_OS_MACOS)
    Q_UNUSED(path);
    return true;
#else
    Q_UNUSED(path);
    return !QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty();
#endif
}

void ShowHelpMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text) {
    QMessageBox box(icon, QStringLiteral("Quillon"), text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace

HelpLaunch LaunchHelpViewer(const QString& path) {
    if (!QFileInfo(path).isFile() || !HasViewerFor(path)) {
        return HelpLaunch::kNotFound;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool started = QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    QApplication::restoreOverrideCursor();
    return started ? HelpLaunch::kOpened : HelpLaunch::kStartFailed;
}

void ShowHelp(QWidget* parent, const QString& path) {
    switch (LaunchHelpViewer(path)) {
        case HelpLaunch::kOpened:
            break;
        case HelpLaunch::kNotFound:
            ShowHelpMessage(parent, QMessageBox::Warning,
                            QStringLiteral("Die Hilfe '%1' oder der Acrobat-Reader konnte nicht "
                                           "gefunden werden!")
                                .arg(QDir::toNativeSeparators(path)));
            break;
        case HelpLaunch::kStartFailed:
            ShowHelpMessage(parent, QMessageBox::Information,
                            QStringLiteral("Fehler beim Starten des Acrobat-Readers!"));
            break;
    }
}
