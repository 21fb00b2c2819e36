// quillon-screenshot: opens the main window, runs Initialize and Start Download through its
// buttons against a serial port (normally a virtual target's), and saves a picture of the
// window once the download has succeeded (or failed, with "failed"). scripts/screenshot runs
// it under a virtual display.
//
//   quillon-screenshot OUTPUT.png IMAGE.hex PORT [BAUDRATE [succeeded|failed]]
//
// The monitor files come from "Targets" beside the program, as for quillon. The settings are
// read but never written. Exit status 0 when the picture was saved, 1 otherwise.
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <cstdio>
#include <functional>

#include "app/download_app.h"
#include "app/image_file_edit.h"
#include "app/main_window.h"

using namespace quillon;

namespace {

constexpr int kJobTimeoutMs = 120000;

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// Presses `button` and waits until the job it started has ended (Initialize enabled again).
bool RunJob(QtMainWindow& window, const char* button) {
    window.findChild<QPushButton*>(button)->click();
    auto* initialize = window.findChild<QPushButton*>("initializeButton");
    return WaitUntil([initialize] { return initialize->isEnabled(); }, kJobTimeoutMs);
}

QString LastLogLine(const QtMainWindow& window) {
    const auto* log = window.findChild<QListWidget*>("logList");
    return log->count() > 0 ? log->item(log->count() - 1)->text() : QString();
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QtDownloadApp::kCompanyKey);
    QApplication::setApplicationName(QtDownloadApp::kProfileName);
    QApplication::setWindowIcon(QtDownloadApp::LoadAppIcon());
    const QStringList args = QApplication::arguments();
    if (args.size() < 4) {
        std::fprintf(stderr,
                     "usage: quillon-screenshot OUTPUT.png IMAGE.hex PORT [BAUDRATE "
                     "[succeeded|failed]]\n");
        return 1;
    }

    QtDownloadApp app;
    app.LoadSettings();
    app.Settings().port = args[3].toStdString();
    app.Settings().baudRate =
        args.size() > 4 ? BaudRateFromSetting(args[4].toStdString()) : BaudRate{115200};

    QtMainWindow window(app);
    window.show();
    window.findChild<QtImageFileEdit*>("imageFileEdit")->setText(args[2]);
    if (window.findChild<QComboBox*>("portList")->currentIndex() < 0) {
        std::fprintf(stderr, "quillon-screenshot: the port list has no %s\n", qPrintable(args[3]));
        return 1;
    }

    auto* startDownload = window.findChild<QPushButton*>("startDownloadButton");
    if (!RunJob(window, "initializeButton") || !startDownload->isEnabled()) {
        std::fprintf(stderr, "quillon-screenshot: Initialize failed: %s\n",
                     qPrintable(LastLogLine(window)));
        return 1;
    }
    // The download as the picture wants it: a success, or a failure the target made.
    const bool wantFailure = args.size() > 5 && args[5] == QStringLiteral("failed");
    const bool succeeded = RunJob(window, "startDownloadButton") &&
                           LastLogLine(window) == QStringLiteral("Download finished successfully!");
    if (succeeded == wantFailure) {
        std::fprintf(stderr, "quillon-screenshot: the download ended otherwise: %s\n",
                     qPrintable(LastLogLine(window)));
        return 1;
    }

    // Let the last repaint reach the display before taking the picture.
    WaitUntil([] { return false; }, 300);
    const QPixmap picture = window.screen()->grabWindow(window.winId());
    if (picture.isNull() || !picture.save(args[1], "PNG")) {
        std::fprintf(stderr, "quillon-screenshot: cannot save %s\n", qPrintable(args[1]));
        return 1;
    }
    window.reject();
    return 0;
}
