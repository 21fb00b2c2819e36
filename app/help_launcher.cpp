#include "app/help_launcher.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>

#include "app/gui_message_box.h"

namespace quillon {

namespace {

#ifndef Q_OS_MACOS
// The desktop's opener: on these desktops every file is handed to it.
QString DesktopOpener() {
    return QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
}

// Starts the opener with `url` and returns whether it started. It runs on by itself (it may
// wait for the viewer) and reports a failing exit to `onFailed`; the application ends one that
// still runs when it quits.
bool StartOpener(const QString& opener, const QUrl& url,
                 const std::function<void(HelpLaunch)>& onFailed) {
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProgram(opener);
    process->setArguments({QString::fromUtf8(url.toEncoded())});
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::finished, process,
                     [process, onFailed](int exitCode, QProcess::ExitStatus status) {
                         process->deleteLater();
                         const HelpLaunch result =
                             HelpLaunchFromOpenerExit(status == QProcess::NormalExit, exitCode);
                         if (result != HelpLaunch::kOpened && onFailed) {
                             onFailed(result);
                         }
                     });
    process->start();
    // Returns as soon as the program runs or could not be run; the GUI thread never waits
    // for the opener itself.
    if (!process->waitForStarted()) {
        delete process;
        return false;
    }
    return true;
}
#endif

// Whether the platform has a program that opens `path`: the files are handed to the desktop's
// opener, which has to be installed.
bool HasViewerFor(const QString& path) {
#if defined(Q_OS_MACOS)
    Q_UNUSED(path);
    return true;
#else
    Q_UNUSED(path);
    return !DesktopOpener().isEmpty();
#endif
}

void ReportFailure(QWidget* parent, HelpLaunch result, const QString& path) {
    if (const auto message =
            HelpLaunchMessage(result, QDir::toNativeSeparators(path).toStdString())) {
        ShowMessageBox(parent, *message);
    }
}

}  // namespace

HelpLaunch HelpLaunchFromOpenerExit(bool exitedNormally, int exitCode) {
    if (!exitedNormally) {
        return HelpLaunch::kStartFailed;
    }
    switch (exitCode) {
        case 0:
            return HelpLaunch::kOpened;
        case 2:
        case 3:
            return HelpLaunch::kNotFound;
        default:
            return HelpLaunch::kStartFailed;
    }
}

HelpLaunch LaunchHelpViewer(const QString& path,
                            const std::function<void(HelpLaunch)>& onOpenerFailed) {
    if (!QFileInfo(path).isFile() || !HasViewerFor(path)) {
        return HelpLaunch::kNotFound;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
#if defined(Q_OS_MACOS)
    Q_UNUSED(onOpenerFailed);
    const bool started = QDesktopServices::openUrl(QUrl::fromLocalFile(path));
#else
    // Not through QDesktopServices: it only tells whether the opener started, not that it
    // found no viewer (xdg-open then exits with status 3).
    const bool started = StartOpener(DesktopOpener(), QUrl::fromLocalFile(path), onOpenerFailed);
#endif
    QApplication::restoreOverrideCursor();
    return started ? HelpLaunch::kOpened : HelpLaunch::kStartFailed;
}

void ShowHelp(QWidget* parent, const QString& path) {
    const QPointer<QWidget> owner = parent;
    const auto onOpenerFailed = [owner, path](HelpLaunch result) {
        ReportFailure(owner ? owner.data() : QApplication::activeWindow(), result, path);
    };
    ReportFailure(parent, LaunchHelpViewer(path, onOpenerFailed), path);
}

}  // namespace quillon
