// quillon-screenshot: opens the main window, runs Initialize and Start Download through its
// buttons against a serial port (normally a virtual target's), and saves a picture of the
// window at the moment OUTCOME names: once the download has succeeded (the default) or failed,
// once Initialize has made it ready, while the download runs (a third of it done), right after
// button 1 asked it to stop, or once it has ended aborted. scripts/screenshot runs it under a
// virtual display.
//
//   quillon-screenshot OUTPUT.png IMAGE.hex PORT [BAUDRATE [OUTCOME]]
//   OUTCOME: succeeded, failed, ready, downloading, stopping, aborted
//
// With --production it opens the production view instead, runs one round on the stations of
// PORTS (comma-separated) with the record in RECORD, and saves its picture while the boards
// program (running) or once the round has ended (done):
//
//   quillon-screenshot --production OUTPUT.png IMAGE.hex RECORD PORTS running|done
//
// The monitor files come from "Targets" beside the program, as for quillon. The settings are
// read but never written. Exit status 0 when the picture was saved, 1 otherwise.
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <cstdio>
#include <functional>

#include "app/download_app.h"
#include "app/image_file_edit.h"
#include "app/main_window.h"
#include "app/production_window.h"
#include "app/qt_settings_store.h"
#include "platform/system_env.h"
#include "window/engine_production_runner.h"

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

// Saves the window as it shows now, once its last repaint has reached the display; `now`: as it
// is drawn at once, before the job's next event is handled.
bool SavePicture(QtMainWindow& window, const QString& path, bool now = false) {
    if (!now) {
        WaitUntil([] { return false; }, 300);
    }
    const QPixmap picture = now ? window.grab() : window.screen()->grabWindow(window.winId());
    if (picture.isNull() || !picture.save(path, "PNG")) {
        std::fprintf(stderr, "quillon-screenshot: cannot save %s\n", qPrintable(path));
        return false;
    }
    return true;
}

QString LastLogLine(const QtMainWindow& window) {
    const auto* log = window.findChild<QListWidget*>("logList");
    return log->count() > 0 ? log->item(log->count() - 1)->text() : QString();
}

// The production view's picture: one round on the stations of `ports`, taken while every
// station programs or once every board has its result.
int ProductionPicture(const QStringList& args) {
    if (args.size() < 7) {
        std::fprintf(stderr,
                     "usage: quillon-screenshot --production OUTPUT.png IMAGE.hex RECORD "
                     "PORTS running|done\n");
        return 1;
    }
    const std::string folder = QCoreApplication::applicationDirPath().toStdString();
    QtSettingsStore store;
    store.WriteText(kProductionSection, "Target", "Virtual Target");
    store.WriteText(kProductionSection, "Image", args[3].toStdString());
    store.WriteText(kProductionSection, "Record", args[4].toStdString());
    store.WriteText(kProductionSection, "Stations", args[5].split(',').join('\n').toStdString());
    store.WriteText(kProductionSection, "Baudrate", "115200");
    store.WriteText(kProductionSection, "Repeat", "enter");
    ProductionSources sources;
    sources.targetFolders = FindTargetFolders(folder);
    QtProductionWindow window(store, std::move(sources), [folder](ProductionEvents& events) {
        return std::make_unique<EngineProductionRunner>(
            events, SystemEnv::Default(), folder + "/quillon-cli", FindTargetFolders(folder));
    });
    window.resize(1000, 760);
    window.show();
    window.findChild<QPushButton*>("start")->click();
    const bool running = args[6] == QStringLiteral("running");
    const int stations = static_cast<int>(args[5].split(',').size());
    const auto all = [&window, stations](const std::function<bool(QWidget*)>& test) {
        for (int station = 0; station < stations; ++station) {
            auto* tile = window.findChild<QWidget*>(QStringLiteral("tile%1").arg(station));
            if (tile == nullptr || !test(tile)) {
                return false;
            }
        }
        return true;
    };
    const bool reached =
        running
            ? WaitUntil(
                  [&] {
                      return all([](QWidget* tile) {
                          auto* bar = tile->findChild<QProgressBar*>();
                          return tile->findChild<QLabel*>("phase")->text() == "programming" &&
                                 bar->value() * 3 >= bar->maximum();
                      });
                  },
                  kJobTimeoutMs)
            : WaitUntil(
                  [&] {
                      return all([](QWidget* tile) {
                          return !tile->findChild<QLabel*>("result")->text().isEmpty() &&
                                 tile->findChild<QLabel*>("phase")->text() == "waiting for Enter";
                      });
                  },
                  kJobTimeoutMs);
    if (!reached) {
        std::fprintf(stderr, "quillon-screenshot: the production round did not get there\n");
        return 1;
    }
    const QPixmap picture = window.grab();
    if (picture.isNull() || !picture.save(args[2], "PNG")) {
        std::fprintf(stderr, "quillon-screenshot: cannot save %s\n", qPrintable(args[2]));
        return 1;
    }
    // Aborted and waited for by the window as it goes: every board started gets its line.
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QtDownloadApp::kCompanyKey);
    QApplication::setApplicationName(QtDownloadApp::kProfileName);
    QApplication::setWindowIcon(QtDownloadApp::LoadAppIcon());
    const QStringList args = QApplication::arguments();
    if (args.size() > 1 && args[1] == QStringLiteral("--production")) {
        return ProductionPicture(args);
    }
    if (args.size() < 4) {
        std::fprintf(stderr,
                     "usage: quillon-screenshot OUTPUT.png IMAGE.hex PORT [BAUDRATE "
                     "[succeeded|failed|ready|downloading|stopping|aborted]]\n");
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
    const QString outcome = args.size() > 5 ? args[5] : QStringLiteral("succeeded");
    if (outcome == QStringLiteral("ready")) {
        return SavePicture(window, args[1]) ? (window.reject(), 0) : 1;
    }
    if (outcome == QStringLiteral("downloading") || outcome == QStringLiteral("stopping") ||
        outcome == QStringLiteral("aborted")) {
        // A third of the download done, then button 1 asks it to stop.
        window.findChild<QPushButton*>("startDownloadButton")->click();
        auto* bar = window.findChild<QProgressBar*>("progressBar");
        if (!WaitUntil([bar] { return bar->maximum() > 1 && bar->value() * 3 >= bar->maximum(); },
                       kJobTimeoutMs)) {
            std::fprintf(stderr, "quillon-screenshot: the download did not get going: %s\n",
                         qPrintable(LastLogLine(window)));
            return 1;
        }
        if (outcome == QStringLiteral("downloading") && !SavePicture(window, args[1])) {
            return 1;
        }
        window.findChild<QPushButton*>("closeButton")->click();
        if (outcome == QStringLiteral("stopping") && !SavePicture(window, args[1], true)) {
            return 1;
        }
        auto* initialize = window.findChild<QPushButton*>("initializeButton");
        if (!WaitUntil([initialize] { return initialize->isEnabled(); }, kJobTimeoutMs) ||
            LastLogLine(window) != QString::fromUtf8(kAbortedLine)) {
            std::fprintf(stderr, "quillon-screenshot: the download ended otherwise: %s\n",
                         qPrintable(LastLogLine(window)));
            return 1;
        }
        if (outcome == QStringLiteral("aborted") && !SavePicture(window, args[1])) {
            return 1;
        }
        window.reject();
        return 0;
    }
    // The download as the picture wants it: a success, or a failure the target made.
    const bool wantFailure = outcome == QStringLiteral("failed");
    const bool succeeded = RunJob(window, "startDownloadButton") &&
                           LastLogLine(window) == QStringLiteral("Download finished successfully!");
    if (succeeded == wantFailure) {
        std::fprintf(stderr, "quillon-screenshot: the download ended otherwise: %s\n",
                     qPrintable(LastLogLine(window)));
        return 1;
    }
    if (!SavePicture(window, args[1])) {
        return 1;
    }
    window.reject();
    return 0;
}
