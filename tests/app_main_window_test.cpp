// The Qt main window under the offscreen platform: each control and each kind of job event
// wired to the controller (whose decisions window_model_tests check), and a few whole runs
// against the virtual target (in this process, over a pseudo-terminal).
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <ostream>
#include <thread>

#include "app/download_app.h"
#include "app/image_file_edit.h"
#include "app/main_window.h"
#include "app/port_combo_box.h"
#include "platform/serial_device.h"
#include "platform/virtual_ports.h"
#include "sim/sim_command_line.h"
#include "sim/sim_monitor_file.h"
#include "sim/sim_server.h"
#include "tests/support/fake_jobs.h"
#include "tests/support/hex_text.h"
#include "tests/support/monitor_file.h"
#include "tests/support/qt_test_environment.h"
#include "tests/support/test_files.h"

using namespace quillon;

// Texts in failure messages as text.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

constexpr int kJobTimeoutMs = 20000;

// quillon-sim in this process; its RAM test report follows the loader's acknowledge at once.
class VirtualTarget {
public:
    VirtualTarget(const std::string& monitorFile, std::vector<std::string> args) {
        args.insert(args.begin(), {"--link", "none", "--blank-flash", "--ram-test-ms", "0"});
        const Result<SimCommandLine> line = ParseSimCommandLine(args);
        Result<SimMonitorFile> file =
            line ? LoadSimMonitorFile(monitorFile) : Result<SimMonitorFile>(Fail(line.error()));
        if (!file) {
            ADD_FAILURE() << file.error().text;
            return;
        }
        m_server = std::make_unique<SimServer>(std::move(*file), line->settings, line->server);
        if (const Status opened = m_server->Open(); !opened) {
            ADD_FAILURE() << opened.error().text;
            return;
        }
        m_thread = std::thread([this] { m_server->Run(); });
    }
    ~VirtualTarget() {
        if (m_thread.joinable()) {
            m_server->Stop();
            m_thread.join();
        }
    }
    std::string port() const { return m_server ? m_server->slavePath() : "/dev/quillon-none"; }
    std::string Report() const { return m_server->ReportJson(); }

private:
    std::unique_ptr<SimServer> m_server;
    std::thread m_thread;
};

// Lists `ports` (read at each enumeration) and reports success.
PortEnumerator ListPorts(std::shared_ptr<std::vector<std::string>> ports) {
    return [ports](std::vector<PortEntry>& listed) {
        for (const std::string& port : *ports) {
            listed.push_back({port, port});
        }
        return Status();
    };
}

template <class T = QPushButton>
T* Control(const QWidget& window, const char* name) {
    T* control = window.findChild<T*>(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
}

QStringList LogLines(const QWidget& window) {
    QStringList lines;
    const auto* log = Control<QListWidget>(window, "logList");
    for (int i = 0; i < log->count(); ++i) {
        lines << log->item(i)->text();
    }
    return lines;
}

// The job state that the buttons show: Initialize, Start Download, button 1's caption.
std::tuple<bool, bool, QString> ButtonState(const QWidget& window) {
    return {Control(window, "initializeButton")->isEnabled(),
            Control(window, "startDownloadButton")->isEnabled(),
            Control(window, "closeButton")->text()};
}
const std::tuple<bool, bool, QString> kNotReady{true, false, "Close"};
const std::tuple<bool, bool, QString> kReady{true, true, "Close"};
const std::tuple<bool, bool, QString> kInitializing{false, false, "Cancel"};
const std::tuple<bool, bool, QString> kDownloading{false, false, "Close"};

bool WaitForJobEnd(const QWidget& window) {
    auto* initialize = Control(window, "initializeButton");
    return QTest::qWaitFor([initialize] { return initialize->isEnabled(); }, kJobTimeoutMs);
}

// Sends a context-menu request to `widget` at `pos`; returns the entries of the menu it opened
// (separators as "-"; none: no menu), after choosing `choose` in it when given.
QStringList RequestContextMenu(QWidget* widget, QPoint pos, QContextMenuEvent::Reason reason,
                               const QString& choose = QString()) {
    QStringList entries;
    bool looked = false;
    QTimer::singleShot(50, [&entries, &looked, choose] {
        looked = true;
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) {
            return;
        }
        for (QAction* action : menu->actions()) {
            entries << (action->isSeparator() ? QStringLiteral("-") : action->text());
            if (!choose.isEmpty() && action->text() == choose) {
                action->trigger();
            }
        }
        menu->close();
    });
    QContextMenuEvent event(reason, pos, widget->mapToGlobal(pos));
    QApplication::sendEvent(widget, &event);
    EXPECT_TRUE(QTest::qWaitFor([&looked] { return looked; }, kJobTimeoutMs));
    return entries;
}

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString((dir.path() / "settings").string()));
        spec.identByte = 0x6B;
        spec.flashTypes = {"VF16"};
        spec.level0Length = 32;
        spec.loader = hex_text::Pattern(300, 5);
        spec.monitor = hex_text::Pattern(700, 6);
        std::filesystem::create_directory(dir.path() / "Targets");
        monitorFile = dir.Write("Targets/target.h86", spec.HexText());
        app.LoadSettings();
    }

    // Starts the virtual target and makes its port the saved one.
    void StartTarget(std::vector<std::string> args = {}) {
        target = std::make_unique<VirtualTarget>(monitorFile, std::move(args));
        *ports = {target->port()};
        app.Settings().port = target->port();
        Store().setValue("Last Connection/COMPort", QString::fromStdString(target->port()));
    }
    // The window's sources: jobs on the serial ports, or on FakeJobs that `jobs` records.
    MainWindowSources Sources(bool fakeJobs = false) const {
        MainWindowSources sources{{{(dir.path() / "Targets").string()}, ""}, ListPorts(ports), {}};
        if (fakeJobs) {
            sources.jobs = std::make_unique<FakeJobs>(jobs);
        }
        return sources;
    }
    std::unique_ptr<QtMainWindow> OpenWindow(bool fakeJobs = false) {
        auto window = std::make_unique<QtMainWindow>(app, Sources(fakeJobs));
        window->show();
        return window;
    }
    // Plays the fake job's part from a thread of its own, as a job thread does.
    void FromJobThread(const std::function<void(JobEventSink&)>& play) const {
        JobEventSink* events = nullptr;
        {
            std::lock_guard<std::mutex> lock(jobs->mutex);
            events = jobs->events;
        }
        ASSERT_NE(events, nullptr);
        std::thread([events, &play] { play(*events); }).join();
    }
    // Sectors 0 (12 blocks, two "*") and 2 (two blocks, one "*").
    std::string Image() const {
        return dir.Write("image.hex", HexTextAt(0x000010, hex_text::Pattern(1500, 7)) +
                                          HexTextAt(0x020000, hex_text::Pattern(200, 8)) +
                                          hex_text::End());
    }
    // Runs the application with the window; `act` ends it.
    int RunApp(const std::function<void(QtMainWindow&)>& act) {
        int result = -1;
        app.RunMainWindow([&](QtDownloadApp& owner) {
            auto window = std::make_unique<QtMainWindow>(owner, Sources());
            QtMainWindow* raw = window.get();
            QObject::connect(raw, &QDialog::finished, [&result](int code) { result = code; });
            QTimer::singleShot(0, raw, [raw, act] { act(*raw); });
            return window;
        });
        return result;
    }
    static QSettings Store() { return QSettings("Brenwick", "Quillon"); }

    TempDir dir;
    MonitorFileSpec spec;
    std::string monitorFile;
    QtDownloadApp app;
    std::shared_ptr<std::vector<std::string>> ports =
        std::make_shared<std::vector<std::string>>(std::vector<std::string>{"COM7"});
    std::shared_ptr<FakeJobRecord> jobs = std::make_shared<FakeJobRecord>();
    std::unique_ptr<VirtualTarget> target;
};

TEST_F(MainWindowTest, OpensWithTheTemplateAndTheSavedChoices) {
    app.Settings().port = "COM7";
    const auto window = OpenWindow();
    EXPECT_EQ(window->windowTitle(), "Quillon");
    EXPECT_TRUE(Control(*window, "closeButton")->isDefault());
    EXPECT_EQ(ButtonState(*window), kNotReady);
    EXPECT_TRUE(
        Control<QCheckBox>(*window, "eraseAllCheckBox")->isChecked());  // EraseAll defaults to 1
    EXPECT_EQ(Control<QComboBox>(*window, "targetList")->currentText(), "Test Target");
    EXPECT_EQ(Control<QComboBox>(*window, "portList")->currentText(), "COM7");
    EXPECT_EQ(Control<QComboBox>(*window, "baudrateList")->currentText(), "57600");
    // Tab order: button 1, the three lists, the image file, the check box, the job buttons, log.
    const QStringList order = {"closeButton",      "targetList",          "portList",
                               "baudrateList",     "imageFileEdit",       "eraseAllCheckBox",
                               "initializeButton", "startDownloadButton", "logList"};
    QStringList seen;
    QWidget* widget = Control(*window, "closeButton");
    do {
        if (order.contains(widget->objectName()) && !seen.contains(widget->objectName())) {
            seen << widget->objectName();
        }
        widget = widget->nextInFocusChain();
    } while (widget != Control(*window, "closeButton"));
    EXPECT_EQ(seen, order);
}

// Each control reaches the controller: the lists' selections, the image file field and the
// check box as the jobs get them, the job buttons and button 1's abort request.
TEST_F(MainWindowTest, TheControlsReachTheJobs) {
    *ports = {"COM7", "COM8"};
    const auto window = OpenWindow(true);
    Control<QComboBox>(*window, "portList")->setCurrentIndex(1);
    Control<QComboBox>(*window, "baudrateList")->setCurrentText("115200");
    Control(*window, "initializeButton")->click();
    EXPECT_EQ(ButtonState(*window), kInitializing);
    EXPECT_FALSE(window->close());  // the close box does nothing while a job runs
    FromJobThread([](JobEventSink& job) {
        job.OnJobEvent(JobEvent::Done({JobOutcome::kSucceeded, FailureReason::kNone, ""}));
    });
    ASSERT_TRUE(WaitForJobEnd(*window));
    EXPECT_EQ(ButtonState(*window), kReady);

    Control<QtImageFileEdit>(*window, "imageFileEdit")->setText("/images/fw.hex");
    Control<QCheckBox>(*window, "eraseAllCheckBox")->setChecked(false);
    Control(*window, "startDownloadButton")->click();
    EXPECT_EQ(ButtonState(*window), kDownloading);
    Control(*window, "closeButton")->click();
    EXPECT_TRUE(window->isVisible());

    std::lock_guard<std::mutex> lock(jobs->mutex);
    ASSERT_EQ(jobs->requests.size(), 2u);
    const JobRequest& init = jobs->requests[0];
    EXPECT_EQ(std::get<InitializeRequest>(init.job).monitorFile, monitorFile);
    EXPECT_EQ(std::tie(init.line.port, init.line.baud),
              std::make_tuple(std::string("COM8"), BaudRate{115200}));
    const auto& download = std::get<DownloadRequest>(jobs->requests[1].job);
    EXPECT_EQ(std::tie(download.imageFile, download.eraseAll),
              std::make_tuple(std::string("/images/fw.hex"), false));
    EXPECT_EQ(jobs->stops, 1);
}

// Each kind of event, sent from another thread, reaches its widget in the GUI thread: the log,
// the progress bar, a message box (the job's end waits until it is confirmed) and the buttons.
TEST_F(MainWindowTest, TheJobsEventsReachTheirWidgets) {
    const auto window = OpenWindow(true);
    Control(*window, "initializeButton")->click();
    FromJobThread([](JobEventSink& job) {
        job.OnJobEvent(JobEvent::Append("*"));  // on an empty log: its only line
        job.OnJobEvent(JobEvent::Line("Send Monitor"));
        job.OnJobEvent(JobEvent::Append(" (Level 2)"));
        job.OnJobEvent(JobEvent::Progress(ProgressPhase::kMonitorUpload, 300, 700));
        job.OnJobEvent(JobEvent::Debug("WaitForResponse(): To few bytes, 01"));
    });
    auto* bar = Control<QProgressBar>(*window, "progressBar");
    ASSERT_TRUE(QTest::qWaitFor([bar] { return bar->value() == 300; }, kJobTimeoutMs));
    EXPECT_EQ(bar->maximum(), 700);
    EXPECT_EQ(LogLines(*window), QStringList({"*", "Send Monitor (Level 2)"}));

    struct Box {
        QString text;
        QMessageBox::Icon icon;
        Qt::TextFormat format;
        bool jobEnded;
    };
    std::vector<Box> boxes;
    QTimer confirmer;
    QObject::connect(&confirmer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes.push_back({box->text(), box->icon(), box->textFormat(),
                             Control(*window, "initializeButton")->isEnabled()});
            box->button(QMessageBox::Ok)->click();
        }
    });
    confirmer.start(20);
    FromJobThread([](JobEventSink& job) {
        job.OnJobEvent(
            JobEvent::ReaderMessage("/no/such.hex", "Fehler bei der Satzanalyse : Nr. '<'!"));
        job.OnJobEvent(JobEvent::Line("after the box"));
        job.OnJobEvent(
            JobEvent::Done({JobOutcome::kAborted, FailureReason::kAborted, kAbortedLine}));
    });
    ASSERT_TRUE(WaitForJobEnd(*window));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Fehler bei der Satzanalyse : Nr. '<'!");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
    EXPECT_EQ(boxes[0].format, Qt::PlainText);
    EXPECT_FALSE(boxes[0].jobEnded);
    EXPECT_EQ(LogLines(*window).mid(2), QStringList({"after the box", "Aborted by user!"}));
    EXPECT_EQ(ButtonState(*window), kNotReady);
    // The bar keeps where the aborted job stopped, in the failed look.
    EXPECT_EQ(bar->value(), 300);
    EXPECT_TRUE(bar->property("failed").toBool());
    EXPECT_NE(bar->palette().color(QPalette::Highlight),
              QApplication::palette(bar).color(QPalette::Highlight));
}

TEST_F(MainWindowTest, InitializeThenDownloadAgainstTheVirtualTarget) {
    StartTarget();
    const auto window = OpenWindow();
    std::vector<std::pair<int, int>> progress;  // (value, maximum) as the bar showed them
    auto* bar = Control<QProgressBar>(*window, "progressBar");
    QObject::connect(bar, &QProgressBar::valueChanged,
                     [&progress, bar](int value) { progress.emplace_back(value, bar->maximum()); });

    Control(*window, "initializeButton")->click();
    ASSERT_TRUE(WaitForJobEnd(*window));
    const QString port = QString::fromStdString(target->port());
    const QStringList initialized = {port + " initialized.",
                                     QString(39, QLatin1Char('-')),
                                     "Send BOOTLOAD (Level 0) !    ==> 32 Bytes",
                                     "Send BOOTLOAD (Level 1) !    ==> 268 Byte",
                                     "RAM test started.",
                                     "RAM test successful!",
                                     "Send Monitor  (Level 2) !   ==> 700 Byte",
                                     "Monitor started!"};
    EXPECT_EQ(LogLines(*window), initialized);
    EXPECT_EQ(ButtonState(*window), kReady);
    EXPECT_NE(std::find(progress.begin(), progress.end(), std::make_pair(700, 700)),
              progress.end());

    // Unticked: only the used sectors are erased.
    Control<QCheckBox>(*window, "eraseAllCheckBox")->setChecked(false);
    Control<QtImageFileEdit>(*window, "imageFileEdit")->setText(QString::fromStdString(Image()));
    Control(*window, "startDownloadButton")->click();
    ASSERT_TRUE(WaitForJobEnd(*window));
    EXPECT_EQ(LogLines(*window).mid(initialized.size()),
              QStringList({"Erasing sector 0!", "Erasing sector 2!", "Programming sector 0! **",
                           "Programming sector 2! *", "Finalizing download",
                           "Download finished successfully!"}));
    EXPECT_EQ(ButtonState(*window), kReady);
    const QScrollBar* scroll = Control<QListWidget>(*window, "logList")->verticalScrollBar();
    EXPECT_EQ(scroll->value(), scroll->maximum());  // the last line is in view
}

// Escape during a job leaves the window open and the job running, to be closed after its end;
// button 1 pressed twice has asked for an abort and closes at once. The program goes on only
// once the job has ended and its line is closed.
TEST_F(MainWindowTest, ClosingDuringAJobWaitsForTheJobAndItsLine) {
    const struct {
        const char* how;
        std::function<void(QtMainWindow&)> close;
        int result;
        bool jobRanToItsEnd;
        const char* savedBaudrate;
    } cases[] = {
        {"Escape",
         [](QtMainWindow& w) {
             QTest::keyClick(&w, Qt::Key_Escape);
             EXPECT_TRUE(w.isVisible());
             ASSERT_TRUE(WaitForJobEnd(w));
             EXPECT_TRUE(w.isVisible());
             QTest::keyClick(&w, Qt::Key_Escape);
         },
         QDialog::Rejected, true, "38400"},
        {"button 1 twice",
         [](QtMainWindow& w) {
             Control(w, "closeButton")->click();
             Control(w, "closeButton")->click();
         },
         QDialog::Accepted, false, "115200"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        StartTarget({"--ram-test-ms", "800"});
        Store().setValue("Last Connection/Baudrate", "38400");
        bool closedAtOnce = false;
        const int result = RunApp([&](QtMainWindow& window) {
            Control<QComboBox>(window, "baudrateList")->setCurrentText("115200");
            Control(window, "initializeButton")->click();
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return LogLines(window).contains("RAM test started."); }, kJobTimeoutMs));
            c.close(window);
            closedAtOnce = !window.isVisible();
        });
        EXPECT_EQ(result, c.result);
        EXPECT_TRUE(closedAtOnce);
        SerialDevice probe;  // opened exclusively: only once the job's line is closed
        EXPECT_TRUE(probe.Open(target->port()));
        EXPECT_EQ(target->Report().find("monitor-started") != std::string::npos, c.jobRanToItsEnd);
        EXPECT_EQ(Store().value("Last Connection/Baudrate").toString(), c.savedBaudrate);
    }
}

TEST_F(MainWindowTest, Button1SavesTheChoicesEscapeAndTheCloseBoxDoNot) {
    // Each way of closing after the same changes.
    const auto closeWith = [this](const std::function<void(QtMainWindow&)>& how) {
        return RunApp([&how](QtMainWindow& window) {
            Control<QComboBox>(window, "portList")->setCurrentText("COM7");
            Control<QComboBox>(window, "baudrateList")->setCurrentText("115200");
            Control<QCheckBox>(window, "eraseAllCheckBox")->setChecked(false);
            how(window);
        });
    };
    EXPECT_EQ(closeWith([](QtMainWindow& w) { QTest::keyClick(&w, Qt::Key_Escape); }),
              QDialog::Rejected);
    EXPECT_EQ(closeWith([](QtMainWindow& w) { w.close(); }), QDialog::Rejected);
    EXPECT_TRUE(Store().allKeys().isEmpty());

    EXPECT_EQ(closeWith([](QtMainWindow& w) { Control(w, "closeButton")->click(); }),
              QDialog::Accepted);
    EXPECT_EQ(Store().value("Last Connection/Baudrate").toString(), "115200");
    EXPECT_EQ(Store().value("Last Connection/COMPort").toString(), "COM7");
    EXPECT_EQ(Store().value("Last Connection/Target").toString(), "Test Target");
    EXPECT_EQ(Store().value("Settings/EraseAll").toInt(), 0);
}

TEST_F(MainWindowTest, LogMenuOnlyFromAMouseClickInsideTheLog) {
    const auto window = OpenWindow();
    auto line = std::make_unique<JobEvent>();
    line->text = "Erasing sector 0!";
    window->PostJobEvent(std::move(line));
    QApplication::processEvents();
    EXPECT_EQ(LogLines(*window), QStringList({"Erasing sector 0!"}));

    auto* log = Control<QListWidget>(*window, "logList");
    const QPoint inside = log->viewport()->rect().center();
    EXPECT_TRUE(RequestContextMenu(log->viewport(), inside, QContextMenuEvent::Keyboard).isEmpty());
    EXPECT_TRUE(RequestContextMenu(window.get(), QPoint(5, 5), QContextMenuEvent::Mouse).isEmpty());
    EXPECT_EQ(LogLines(*window).size(), 1);
    // Without a system menu the Options, Production and About entries follow a separator.
    EXPECT_EQ(RequestContextMenu(log->viewport(), inside, QContextMenuEvent::Mouse, "Clear"),
              QStringList({"Clear", "-", "Options…", "Production…", "&About Quillon..."}));
    EXPECT_TRUE(LogLines(*window).isEmpty());
}

// The status line below the template's controls, in a font larger than the window's, shows
// what the controller says as the job goes.
TEST_F(MainWindowTest, TheStatusLineShowsTheJobsStateBelowTheControls) {
    const auto window = OpenWindow(true);
    auto* status = Control<QLabel>(*window, "statusLine");
    EXPECT_EQ(status->text(), "");
    EXPECT_GE(status->font().pointSizeF(), 1.5 * window->font().pointSizeF());
    for (QWidget* control : window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (control != status) {
            EXPECT_LT(control->geometry().bottom(), status->geometry().top())
                << control->objectName().toStdString();
        }
    }
    Control(*window, "initializeButton")->click();
    EXPECT_EQ(status->text(), "Initializing…");
    Control(*window, "closeButton")->click();
    EXPECT_EQ(status->text(), "Stopping…");
    FromJobThread([](JobEventSink& job) {
        job.OnJobEvent(JobEvent::Done(
            {JobOutcome::kFailed, FailureReason::kNoAnswer, "No response from target"}));
    });
    ASSERT_TRUE(WaitForJobEnd(*window));
    EXPECT_EQ(status->text(), "FAILED: No response from target");
}

// "Options…" opens the dialog with the echo window as read; a value the reader would not take
// keeps it open with a box, a good one is written at once and used by the next Initialize.
TEST_F(MainWindowTest, OptionsSetsTheEchoWindowThroughTheSettingsStore) {
    const auto window = OpenWindow(true);
    std::vector<QString> seen;
    QTimer operatorActs;
    QObject::connect(&operatorActs, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen.push_back(box->text());
            box->button(QMessageBox::Ok)->click();
        } else if (auto* edit = modal != nullptr ? modal->findChild<QLineEdit*>("echoWindowEdit")
                                                 : nullptr) {
            seen.push_back(edit->text());
            edit->setText(seen.size() == 1 ? "2000" : "32");
            QMetaObject::invokeMethod(modal, "accept", Qt::QueuedConnection);
        }
    });
    operatorActs.start(20);
    auto* log = Control<QListWidget>(*window, "logList");
    RequestContextMenu(log->viewport(), log->viewport()->rect().center(), QContextMenuEvent::Mouse,
                       "Options…");
    operatorActs.stop();
    EXPECT_EQ(seen, (std::vector<QString>{
                        "1", "The echo window must be a number from 1 to 1024 (bytes).", "2000"}));
    EXPECT_EQ(Store().value("Settings/EchoWindow").toInt(), 32);
    Control(*window, "initializeButton")->click();
    EXPECT_EQ(LogLines(*window), QStringList({"Echo window: 32 bytes"}));
    std::lock_guard<std::mutex> lock(jobs->mutex);
    ASSERT_EQ(jobs->requests.size(), 1u);
    EXPECT_EQ(std::get<InitializeRequest>(jobs->requests[0].job).echoWindow, EchoWindow{32});
}

// Rates added in the Options dialog are written at once and join the baud rate list; one
// selected there goes to the job.
TEST_F(MainWindowTest, OptionsAddsBaudRatesToTheList) {
    const auto window = OpenWindow(true);
    QTimer operatorActs;
    QObject::connect(&operatorActs, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* edit =
                modal != nullptr ? modal->findChild<QLineEdit*>("addedBaudRatesEdit") : nullptr) {
            edit->setText("1000000 250000");
            QMetaObject::invokeMethod(modal, "accept", Qt::QueuedConnection);
        }
    });
    operatorActs.start(20);
    auto* log = Control<QListWidget>(*window, "logList");
    RequestContextMenu(log->viewport(), log->viewport()->rect().center(), QContextMenuEvent::Mouse,
                       "Options…");
    operatorActs.stop();
    EXPECT_EQ(Store().value("Settings/AddedBaudrates").toString(), "250000 1000000");
    auto* rates = Control<QComboBox>(*window, "baudrateList");
    ASSERT_EQ(rates->count(), 7);
    EXPECT_EQ(rates->itemText(5), "250000");
    rates->setCurrentText("1000000");
    Control(*window, "initializeButton")->click();
    std::lock_guard<std::mutex> lock(jobs->mutex);
    ASSERT_EQ(jobs->requests.size(), 1u);
    EXPECT_EQ(jobs->requests[0].line.baud, BaudRate{1000000});
}

TEST_F(MainWindowTest, MinimumSizeAndLogMarginsAfterResizes) {
    const auto window = OpenWindow();
    auto* log = Control<QListWidget>(*window, "logList");
    const QRect close = Control(*window, "closeButton")->geometry();
    const QPoint logCorner = log->pos();
    for (const QSize size : {QSize(100, 80), QSize(900, 700), QSize(430, 1000), QSize(0, 0)}) {
        window->resize(size);
        QApplication::processEvents();
        EXPECT_EQ(log->pos(), logCorner);
        EXPECT_EQ(log->geometry().right() + 1, window->width() - 10);
        const QRect status = Control<QLabel>(*window, "statusLine")->geometry();
        EXPECT_EQ(log->geometry().bottom() + 1, status.top() - 10);
        EXPECT_EQ(status.bottom() + 1, window->height() - 10);
        EXPECT_EQ(Control(*window, "closeButton")->geometry(), close);
    }
    // At the smallest size every control of the template lies inside the window, and no
    // button (the browse button and the check box too) is narrower than its caption needs.
    window->resize(0, 0);
    QApplication::processEvents();
    for (QWidget* control : window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        EXPECT_TRUE(window->rect().contains(control->geometry()))
            << control->objectName().toStdString() << " at the size " << window->width() << "x"
            << window->height();
    }
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        const QRect inWindow(button->mapTo(window.get(), QPoint(0, 0)), button->size());
        EXPECT_TRUE(window->rect().contains(inWindow)) << button->text().toStdString();
        EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
    }
}

// The virtual targets' announced ports are listed, and each drop-down reads the ports again:
// a target started after the window opened shows up with its description; the operator's
// selection stays.
TEST_F(MainWindowTest, ThePortListShowsAnnouncedPortsAndReadsThemAgainWhenItDropsDown) {
    TempDir runtime;
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path().string()));
    // Private folders, as the virtual target makes them: others are never listed.
    const auto folder = runtime.path() / "quillon" / "ports";
    for (const auto& path : {runtime.path(), runtime.path() / "quillon", folder}) {
        std::filesystem::create_directories(path);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    }
    const QString earlier = QString::fromStdString((folder / "quillon-sim-earlier").string());
    const QString later = QString::fromStdString((folder / "quillon-sim-later").string());
    {
        const VirtualTarget first(monitorFile, {"--link", earlier.toStdString()});
        MainWindowSources sources = Sources();
        sources.enumeratePorts = {};  // EnumerateComPorts
        QtMainWindow window(app, std::move(sources));
        auto* list = Control<QComboBox>(window, "portList");
        EXPECT_GE(list->findText(earlier), 0);
        EXPECT_EQ(list->findText(later), -1);
        list->setCurrentIndex(list->findText(earlier));
        const VirtualTarget second(monitorFile, {"--link", later.toStdString()});
        list->showPopup();
        EXPECT_GE(list->findText(later), 0);
        EXPECT_EQ(list->currentText(), earlier);
        // The open list is wide enough for each name with its description beside it.
        const QString shown = PortComboBox::OpenListText(later, kVirtualPortFriendlyName);
        EXPECT_NE(shown, later);
        EXPECT_GE(list->view()->width(), list->view()->fontMetrics().horizontalAdvance(shown));
        list->hidePopup();
    }
    saved.isNull() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", saved);
}

// The focus that a job button passes on when it disables itself makes no line current, and a
// right click selects nothing; a left click and the arrow keys do.
TEST_F(MainWindowTest, TheLogShowsOnlyTheOperatorsSelection) {
    const auto window = OpenWindow(true);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto* log = Control<QListWidget>(*window, "logList");
    auto* initialize = Control(*window, "initializeButton");
    initialize->setFocus();
    initialize->click();
    FromJobThread([](JobEventSink& job) {
        for (const char* line : {"one", "two", "three"}) {
            job.OnJobEvent(JobEvent::Line(line));
        }
        job.OnJobEvent(JobEvent::Done({JobOutcome::kFailed, FailureReason::kNoAnswer, "two"}));
    });
    EXPECT_TRUE(log->hasFocus());
    ASSERT_TRUE(WaitForJobEnd(*window));
    EXPECT_EQ(log->currentItem(), nullptr);
    EXPECT_TRUE(log->selectedItems().isEmpty());

    QListWidgetItem* top = log->itemAt(log->viewport()->rect().topLeft() + QPoint(2, 2));
    ASSERT_NE(top, nullptr);
    const QPoint onTop = log->visualItemRect(top).center();
    QTest::mouseClick(log->viewport(), Qt::RightButton, {}, onTop);
    EXPECT_EQ(log->currentItem(), nullptr);
    EXPECT_TRUE(log->selectedItems().isEmpty());
    QTest::mouseClick(log->viewport(), Qt::LeftButton, {}, onTop);
    EXPECT_EQ(log->selectedItems(), QList<QListWidgetItem*>({top}));
    QTest::keyClick(log, Qt::Key_Down);
    EXPECT_EQ(log->currentRow(), log->row(top) + 1);
}

}  // namespace
