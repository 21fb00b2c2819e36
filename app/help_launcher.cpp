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
                 const std::function<void(const Error&)>& onFailed) {
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProgram(opener);
    process->setArguments({QString::fromUtf8(url.toEncoded())});
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::finished, process,
                     [process, onFailed](int exitCode, QProcess::ExitStatus status) {
                         process->deleteLater();
                         const Status opened =
                             HelpLaunchFromOpenerExit(status == QProcess::NormalExit, exitCode);
                         if (!opened && onFailed) {
                             onFailed(opened.error());
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

void ReportFailure(QWidget* parent, const Error& error, const QString& path) {
    ShowMessageBox(parent, HelpLaunchMessage(error, QDir::toNativeSeparators(path).toStdString()));
}

}  // namespace

Status HelpLaunchFromOpenerExit(bool exitedNormally, int exitCode) {
    if (!exitedNormally) {
        return Fail(ErrorKind::kFailed, "the desktop's opener ended abnormally");
    }
    switch (exitCode) {
        case 0:
            return {};
        case 2:
        case 3:
            return Fail(ErrorKind::kNotFound, "the desktop's opener found no file or viewer");
        default:
            return Fail(ErrorKind::kFailed,
                        "the desktop's opener failed with status " + std::to_string(exitCode));
    }
}

Status LaunchHelpViewer(const QString& path,
                        const std::function<void(const Error&)>& onOpenerFailed) {
    if (!QFileInfo(path).isFile()) {
        return Fail(ErrorKind::kNotFound, path.toStdString() + " is missing");
    }
    if (!HasViewerFor(path)) {
        return Fail(ErrorKind::kNotFound, "no viewer for " + path.toStdString());
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
    if (!started) {
        return Fail(ErrorKind::kFailed, "the viewer for " + path.toStdString() + " did not start");
    }
    return {};
}

void ShowHelp(QWidget* parent, const QString& path) {
    const QPointer<QWidget> owner = parent;
    const auto onOpenerFailed = [owner, path](const Error& error) {
        ReportFailure(owner ? owner.data() : QApplication::activeWindow(), error, path);
    };
    if (const Status launched = LaunchHelpViewer(path, onOpenerFailed); !launched) {
        ReportFailure(parent, launched.error(), path);
    }
}

}  // namespace quillon
