// The main window under Qt's offscreen platform, driven through its buttons against the virtual
// target (in this process, over a pseudo-terminal).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <ostream>
#include <thread>

#include "app/baudrate_list.h"
#include "app/download_app.h"
#include "app/download_dlg.h"
#include "app/gui_message_box.h"
#include "app/image_file_edit.h"
#include "app/port_list.h"
#include "platform/serial_device.h"
#include "sim/sim_command_line.h"
#include "sim/sim_monitor_file.h"
#include "sim/sim_server.h"
#include "tests/support/hex_text.h"
#include "tests/support/monitor_file.h"
#include "tests/support/qt_test_environment.h"
#include "tests/support/test_files.h"

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
        SimCommandLine line;
        SimMonitorFile file;
        std::string error;
        if (ParseSimCommandLine(args, &line, &error) &&
            LoadSimMonitorFile(monitorFile, &file, &error)) {
            m_server = std::make_unique<SimServer>(file, line.settings, line.server);
        }
        if (!m_server || !m_server->Open(&error)) {
            ADD_FAILURE() << error;
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

// Lists the given ports, then reports success or failure.
PortEnumerator ListPorts(std::vector<std::string> ports, int result = 1) {
    return [ports, result](ComPortCallback callback, std::uintptr_t context) {
        for (const std::string& port : ports) {
            const ComPortInfo info{port.c_str(), port.c_str()};
            callback(context, &info);
        }
        return result;
    };
}

// While it lives, virtual targets announce their ports in a runtime folder of its own, which
// the port enumeration reads.
class AnnouncedPorts {
public:
    AnnouncedPorts() : m_saved(qgetenv("XDG_RUNTIME_DIR")) {
        std::filesystem::permissions(m_runtime.path(), std::filesystem::perms::owner_all);
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(m_runtime.path().string()));
        // Private folders, as the virtual target makes them: others are never listed.
        for (const auto& folder :
             {m_runtime.path() / "quillon", m_runtime.path() / "quillon" / "ports"}) {
            std::filesystem::create_directory(folder);
            std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
        }
    }
    ~AnnouncedPorts() {
        m_saved.isNull() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", m_saved);
    }
    // Where a virtual target started with "--link" and this path announces its port.
    std::string Link(const std::string& name) const {
        return (m_runtime.path() / "quillon" / "ports" / name).string();
    }

private:
    TempDir m_runtime;
    QByteArray m_saved;
};

template <class T = QPushButton>
T* Control(const QWidget& window, const char* name) {
    T* control = window.findChild<T*>(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
}

QStringList LogLines(const QWidget& window) {
    QStringList lines;
    const auto* log = Control<QListWidget>(window, "IDC_1007");
    for (int i = 0; i < log->count(); ++i) {
        lines << log->item(i)->text();
    }
    return lines;
}

QString LastLogLine(const QWidget& window) {
    const QStringList lines = LogLines(window);
    return lines.isEmpty() ? QString() : lines.last();
}

// The job state that the buttons show: Initialize, Start Download, button 1's caption.
std::tuple<bool, bool, QString> ButtonState(const QWidget& window) {
    return {Control(window, "IDC_1006")->isEnabled(), Control(window, "IDC_1000")->isEnabled(),
            Control(window, "IDOK")->text()};
}
const std::tuple<bool, bool, QString> kNotReady{true, false, "Close"};
const std::tuple<bool, bool, QString> kReady{true, true, "Close"};
const std::tuple<bool, bool, QString> kInitializing{false, false, "Cancel"};
const std::tuple<bool, bool, QString> kDownloading{false, false, "Close"};

bool WaitForJobEnd(const QWidget& window) {
    auto* initialize = Control(window, "IDC_1006");
    return QTest::qWaitFor([initialize] { return initialize->isEnabled(); }, kJobTimeoutMs);
}

// Sends a context-menu request to `widget` at `pos`; returns the entries of the menu it opened
// (separators as "-"; none: no menu), after choosing `choose` in it when given.
QStringList RequestContextMenu(QWidget* widget, QPoint pos, QContextMenuEvent::Reason reason,
                               const QString& choose = QString()) {
    QStringList entries;
    QTimer::singleShot(50, [&entries, choose] {
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
    QTest::qWait(100);
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
    ~MainWindowTest() override { g_bStopJob = 1; }

    // Starts the virtual target and makes its port the saved one.
    void StartTarget(std::vector<std::string> args = {}) {
        target = std::make_unique<VirtualTarget>(monitorFile, std::move(args));
        app.m_strComPort = QString::fromStdString(target->port());
        Store().setValue("Last Connection/COMPort", app.m_strComPort);
    }
    CDownloadDlg::Sources Sources(const std::filesystem::path& targets = {}) const {
        return {
            QString::fromStdString((targets.empty() ? dir.path() / "Targets" : targets).string()),
            ListPorts({target ? target->port() : "/dev/quillon-none"})};
    }
    std::unique_ptr<CDownloadDlg> OpenWindow() {
        auto window = std::make_unique<CDownloadDlg>(app, Sources());
        window->show();
        return window;
    }
    // Sectors 0 (12 blocks, two "*") and 2 (two blocks, one "*").
    std::string Image() const {
        return dir.Write("image.hex", HexTextAt(0x000010, hex_text::Pattern(1500, 7)) +
                                          HexTextAt(0x020000, hex_text::Pattern(200, 8)) +
                                          hex_text::End());
    }
    QStringList InitializeLines() const {
        const QString port = QString::fromStdString(target->port());
        return {port + " initialized.",
                QString(39, QLatin1Char('-')),
                "Send BOOTLOAD (Level 0) !    ==> 32 Bytes",
                "Send BOOTLOAD (Level 1) !    ==> 268 Byte",
                "RAM test started.",
                "RAM test successful!",
                "Send Monitor  (Level 2) !   ==> 700 Byte",
                "Monitor started!"};
    }
    void Initialize(CDownloadDlg& window) {
        Control(window, "IDC_1006")->click();
        ASSERT_TRUE(WaitForJobEnd(window));
        ASSERT_EQ(ButtonState(window), kReady) << LogLines(window).join('\n').toStdString();
    }
    // Runs the application with the window; `act` ends it.
    int RunApp(const std::function<void(CDownloadDlg&)>& act) {
        int result = -1;
        app.InitInstance([&](CDownloadApp& owner) {
            auto window = std::make_unique<CDownloadDlg>(owner, Sources());
            CDownloadDlg* raw = window.get();
            QObject::connect(raw, &QDialog::finished, [&result](int code) { result = code; });
            QTimer::singleShot(0, raw, [raw, act] {
                act(*raw);
                // A window ended during a job closes once the job has ended.
                if (!QTest::qWaitFor([raw] { return !raw->isVisible(); }, kJobTimeoutMs)) {
                    ADD_FAILURE() << "the window is still open";
                    raw->reject();
                }
            });
            return window;
        });
        return result;
    }
    static QSettings Store() { return QSettings("Brenwick", "Quillon"); }

    TempDir dir;
    MonitorFileSpec spec;
    std::string monitorFile;
    CDownloadApp app;
    std::unique_ptr<VirtualTarget> target;
};

TEST_F(MainWindowTest, OpensWithTheTemplateAndTheSavedChoices) {
    StartTarget();
    const auto window = OpenWindow();
    EXPECT_EQ(window->windowTitle(), "Quillon");
    EXPECT_TRUE(Control(*window, "IDOK")->isDefault());
    EXPECT_EQ(ButtonState(*window), kNotReady);
    EXPECT_TRUE(Control<QCheckBox>(*window, "IDC_1009")->isChecked());  // EraseAll defaults to 1
    EXPECT_EQ(Control<QComboBox>(*window, "IDC_1001")->currentText(), "Test Target");
    EXPECT_EQ(Control<QComboBox>(*window, "IDC_1004")->currentText(), app.m_strComPort);
    EXPECT_EQ(Control<QComboBox>(*window, "IDC_1005")->currentText(), "57600");
    // Tab order: button 1, the three lists, the image file, the check box, the job buttons, log.
    const QStringList order = {"IDOK",     "IDC_1001", "IDC_1004", "IDC_1005", "IDC_1002",
                               "IDC_1009", "IDC_1006", "IDC_1000", "IDC_1007"};
    QStringList seen;
    QWidget* widget = Control(*window, "IDOK");
    do {
        if (order.contains(widget->objectName()) && !seen.contains(widget->objectName())) {
            seen << widget->objectName();
        }
        widget = widget->nextInFocusChain();
    } while (widget != Control(*window, "IDOK"));
    EXPECT_EQ(seen, order);
}

TEST_F(MainWindowTest, InitializeThenDownloadThroughTheButtons) {
    StartTarget();
    const auto window = OpenWindow();
    std::vector<std::pair<int, int>> progress;  // (value, maximum) as the bar showed them
    auto* bar = Control<QProgressBar>(*window, "IDC_PROGRESS");
    QObject::connect(bar, &QProgressBar::valueChanged,
                     [&progress, bar](int value) { progress.emplace_back(value, bar->maximum()); });

    Control(*window, "IDC_1006")->click();
    EXPECT_EQ(ButtonState(*window), kInitializing);
    EXPECT_EQ(g_bStopJob, 0);
    EXPECT_FALSE(window->close());  // the close box does nothing while a job runs
    ASSERT_TRUE(WaitForJobEnd(*window));
    EXPECT_EQ(LogLines(*window), InitializeLines());
    EXPECT_EQ(ButtonState(*window), kReady);
    EXPECT_EQ(g_bStopJob, 1);
    EXPECT_NE(std::find(progress.begin(), progress.end(), std::make_pair(700, 700)),
              progress.end());
    EXPECT_EQ(bar->value(), 0);  // empty again once the job has ended

    // The check box reaches the setting when Start Download is pressed: only used sectors.
    Control<QCheckBox>(*window, "IDC_1009")->setChecked(false);
    Control<CImageFileEdit>(*window, "IDC_1002")->setText(QString::fromStdString(Image()));
    Control(*window, "IDC_1000")->click();
    EXPECT_EQ(ButtonState(*window), kDownloading);
    EXPECT_EQ(app.m_bEraseAll, 0);
    ASSERT_TRUE(WaitForJobEnd(*window));
    EXPECT_EQ(LogLines(*window).mid(InitializeLines().size()),
              QStringList({"Erasing sector 0!", "Erasing sector 2!", "Programming sector 0! **",
                           "Programming sector 2! *", "Finalizing download",
                           "Download finished successfully!"}));
    EXPECT_EQ(ButtonState(*window), kReady);
    EXPECT_EQ(g_bStopJob, 1);
    const QScrollBar* scroll = Control<QListWidget>(*window, "IDC_1007")->verticalScrollBar();
    EXPECT_EQ(scroll->value(), scroll->maximum());  // the last line is in view
}

// A failed job, then one aborted with button 1: "Cancel" during Initialize, "Close" during a
// download. The abort ends the job at its next poll point; the window stays open.
void ExpectAbortedAfter(const QWidget& window, const QString& workersLastLine) {
    ASSERT_TRUE(WaitForJobEnd(window));
    const QStringList lines = LogLines(window);
    EXPECT_EQ(lines.mid(lines.size() - 2), QStringList({workersLastLine, "Aborted by user!"}));
    EXPECT_EQ(lines.count("Aborted by user!"), 1);
    EXPECT_EQ(ButtonState(window), kNotReady);
}

TEST_F(MainWindowTest, FailedAndCancelledInitialize) {
    StartTarget({"--wrong-ident", "0x55", "--fault-session", "1", "--ram-test-ms", "1500"});
    const auto window = OpenWindow();
    Control(*window, "IDC_1006")->click();
    ASSERT_TRUE(WaitForJobEnd(*window));
    EXPECT_EQ(LastLogLine(*window), "Wrong answer (Set 0x6B::Act 0x55)!");
    EXPECT_FALSE(LogLines(*window).contains("Aborted by user!"));
    EXPECT_EQ(ButtonState(*window), kNotReady);

    Control(*window, "IDC_1006")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return LastLogLine(*window) == "RAM test started."; },
                                kJobTimeoutMs));
    Control(*window, "IDOK")->click();
    EXPECT_EQ(g_bStopJob, 1);
    EXPECT_TRUE(window->isVisible());
    ExpectAbortedAfter(*window, "RAM test successful!");
}

TEST_F(MainWindowTest, FailedAndCancelledDownload) {
    StartTarget({"--error-at", "block@1", "--fault-session", "1", "--erase-ms", "400"});
    const auto window = OpenWindow();
    Control<CImageFileEdit>(*window, "IDC_1002")->setText(QString::fromStdString(Image()));
    Initialize(*window);
    Control(*window, "IDC_1000")->click();
    ASSERT_TRUE(WaitForJobEnd(*window));
    EXPECT_EQ(LastLogLine(*window), "Error F!");
    EXPECT_FALSE(LogLines(*window).contains("Aborted by user!"));
    EXPECT_EQ(ButtonState(*window), kNotReady);

    Initialize(*window);
    Control(*window, "IDC_1000")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return LastLogLine(*window) == "Erasing sector 0!"; },
                                kJobTimeoutMs));
    Control(*window, "IDOK")->click();
    EXPECT_TRUE(window->isVisible());
    ExpectAbortedAfter(*window, "Erasing sector 0!");
}

// The window closes at once; Escape asks for no abort, button 1 pressed twice has asked for
// one. The program goes on only once the job has ended and the worker has closed the port.
TEST_F(MainWindowTest, ClosingDuringAJobWaitsForTheJobAndTheWorker) {
    const struct {
        const char* how;
        std::function<void(CDownloadDlg&)> close;
        int result;
        int stopFlag;
        bool jobRanToItsEnd;
        const char* savedBaudrate;
    } cases[] = {
        {"Escape", [](CDownloadDlg& w) { QTest::keyClick(&w, Qt::Key_Escape); }, QDialog::Rejected,
         0, true, "38400"},
        {"button 1 twice",
         [](CDownloadDlg& w) {
             Control(w, "IDOK")->click();
             Control(w, "IDOK")->click();
         },
         QDialog::Accepted, 1, false, "115200"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        StartTarget({"--ram-test-ms", "800"});
        Store().setValue("Last Connection/Baudrate", "38400");
        int stopFlag = -1;
        bool closedAtOnce = false;
        const int result = RunApp([&](CDownloadDlg& window) {
            Control<QComboBox>(window, "IDC_1005")->setCurrentText("115200");
            Control(window, "IDC_1006")->click();
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return LogLines(window).contains("RAM test started."); }, kJobTimeoutMs));
            c.close(window);
            stopFlag = g_bStopJob;
            closedAtOnce = !window.isVisible();
        });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(stopFlag, c.stopFlag);
        EXPECT_TRUE(closedAtOnce);
        SerialDevice probe;  // opened exclusively: only once the worker has closed the port
        EXPECT_TRUE(probe.Open(target->port()));
        EXPECT_EQ(target->Report().find("monitor-started") != std::string::npos, c.jobRanToItsEnd);
        EXPECT_EQ(Store().value("Last Connection/Baudrate").toString(), c.savedBaudrate);
    }
}

TEST_F(MainWindowTest, Button1SavesTheChoicesEscapeAndTheCloseBoxDoNot) {
    StartTarget({"--ram-test-ms", "800"});
    // Each way of closing after the same changes.
    const auto closeWith = [this](const std::function<void(CDownloadDlg&)>& how) {
        return RunApp([&how](CDownloadDlg& window) {
            Control<QComboBox>(window, "IDC_1005")->setCurrentText("115200");
            Control<QCheckBox>(window, "IDC_1009")->setChecked(false);
            how(window);
        });
    };
    EXPECT_EQ(closeWith([](CDownloadDlg& w) { QTest::keyClick(&w, Qt::Key_Escape); }),
              QDialog::Rejected);
    EXPECT_EQ(closeWith([](CDownloadDlg& w) { w.close(); }), QDialog::Rejected);
    EXPECT_FALSE(Store().contains("Last Connection/Baudrate"));

    EXPECT_EQ(closeWith([](CDownloadDlg& w) { Control(w, "IDOK")->click(); }), QDialog::Accepted);
    EXPECT_EQ(Store().value("Last Connection/Baudrate").toString(), "115200");
    EXPECT_EQ(Store().value("Last Connection/COMPort").toString(),
              QString::fromStdString(target->port()));
    EXPECT_EQ(Store().value("Last Connection/Target").toString(), "Test Target");
    EXPECT_EQ(Store().value("Settings/EraseAll").toInt(), 0);

    // Twice during a job: the first press asks for the abort, the second closes and saves.
    Store().setValue("Last Connection/Baudrate", "9600");
    EXPECT_EQ(closeWith([](CDownloadDlg& w) {
                  Control(w, "IDC_1006")->click();
                  Control(w, "IDOK")->click();
                  EXPECT_TRUE(w.isVisible());
                  Control(w, "IDOK")->click();
              }),
              QDialog::Accepted);
    EXPECT_EQ(Store().value("Last Connection/Baudrate").toString(), "115200");
}

TEST_F(MainWindowTest, PortAndBaudrateListsSelectByTheStoredBeginning) {
    QString port = "COM1";
    QComboBox ports;
    FillComPortList(ports, port, ListPorts({"COM3", "COM10", "com2"}));
    EXPECT_EQ(QStringList({ports.itemText(0), ports.itemText(1), ports.itemText(2)}),
              QStringList({"COM10", "com2", "COM3"}));
    EXPECT_EQ(GetSelectedComPort(ports, port), "COM10");
    EXPECT_EQ(port, "COM10");
    // A failed enumeration keeps what it listed but selects nothing: "COM1", setting unchanged.
    QComboBox failed;
    FillComPortList(failed, "COM1", ListPorts({"COM1"}, 0));
    EXPECT_EQ(failed.count(), 1);
    EXPECT_EQ(GetSelectedComPort(failed, port), "COM1");
    EXPECT_EQ(port, "COM10");

    QString rate = "1152";
    QComboBox rates;
    FillBaudrateList(rates, rate);
    QList<int> values;
    for (int i = 0; i < rates.count(); ++i) {
        EXPECT_EQ(rates.itemText(i).toInt(), rates.itemData(i).toInt());
        values << rates.itemData(i).toInt();
    }
    EXPECT_EQ(values, QList<int>({9600, 19200, 38400, 57600, 115200}));
    EXPECT_EQ(GetSelectedBaudrate(rates, rate), 115200);
    EXPECT_EQ(rate, "115200");
    QComboBox none;
    FillBaudrateList(none, "300");
    EXPECT_EQ(GetSelectedBaudrate(none, rate), 57600);
    EXPECT_EQ(rate, "115200");
}

TEST_F(MainWindowTest, LogMenuOnlyFromAMouseClickInsideTheLog) {
    const auto window = OpenWindow();
    const std::shared_ptr<MessageTarget> owner = window->messageTarget();
    PostLogAppend(owner.get(), "*");  // on an empty log: its only line
    PostLogLine(owner.get(), "Erasing");
    PostLogAppend(owner.get(), " sector");
    QApplication::processEvents();
    EXPECT_EQ(LogLines(*window), QStringList({"*", "Erasing sector"}));

    auto* log = Control<QListWidget>(*window, "IDC_1007");
    const QPoint inside = log->viewport()->rect().center();
    EXPECT_TRUE(RequestContextMenu(log->viewport(), inside, QContextMenuEvent::Keyboard).isEmpty());
    EXPECT_TRUE(RequestContextMenu(window.get(), QPoint(5, 5), QContextMenuEvent::Mouse).isEmpty());
    EXPECT_EQ(LogLines(*window).size(), 2);
    // Without a system menu the About entry follows a separator.
    EXPECT_EQ(RequestContextMenu(log->viewport(), inside, QContextMenuEvent::Mouse, "Clear"),
              QStringList({"Clear", "-", "&About Quillon..."}));
    EXPECT_TRUE(LogLines(*window).isEmpty());
}

TEST_F(MainWindowTest, ClearDuringADownloadPutsTheNextMarkOnALineOfItsOwn) {
    StartTarget({"--program-ms", "15"});
    const auto window = OpenWindow();
    Control<CImageFileEdit>(*window, "IDC_1002")
        ->setText(QString::fromStdString(
            dir.Write("big.hex", HexTextAt(0, hex_text::Pattern(15000, 9)) + hex_text::End())));
    Initialize(*window);
    Control(*window, "IDC_1000")->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return LastLogLine(*window).startsWith("Programming sector 0! *"); }, kJobTimeoutMs));
    auto* log = Control<QListWidget>(*window, "IDC_1007");
    RequestContextMenu(log->viewport(), log->viewport()->rect().center(), QContextMenuEvent::Mouse,
                       "Clear");
    ASSERT_TRUE(WaitForJobEnd(*window));
    const QStringList lines = LogLines(*window);
    ASSERT_EQ(lines.size(), 3) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].size() > 1 && lines[0].count('*') == lines[0].size())
        << lines[0].toStdString();
    EXPECT_EQ(lines[2], "Download finished successfully!");
}

TEST_F(MainWindowTest, MinimumSizeAndLogMarginsAfterResizes) {
    const auto window = OpenWindow();
    auto* log = Control<QListWidget>(*window, "IDC_1007");
    const QRect close = Control(*window, "IDOK")->geometry();
    const QPoint logCorner = log->pos();
    for (const QSize size : {QSize(100, 80), QSize(900, 700), QSize(430, 1000), QSize(0, 0)}) {
        window->resize(size);
        QApplication::processEvents();
        EXPECT_EQ(log->pos(), logCorner);
        EXPECT_EQ(log->geometry().right() + 1, window->width() - 10);
        EXPECT_EQ(log->geometry().bottom() + 1, window->height() - 10);
        EXPECT_EQ(Control(*window, "IDOK")->geometry(), close);
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

TEST_F(MainWindowTest, ReaderBoxesFromTheWorkerShowInTheWindowsThreadWhileTheWorkerWaits) {
    StartTarget();
    const MessageBoxHandler previous = InstallGuiMessageBoxHandler();
    QStringList boxes;
    bool jobEndedBeforeOk = true;
    QTimer confirmer;
    std::unique_ptr<CDownloadDlg> window;
    QObject::connect(&confirmer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box != nullptr) {
            boxes << box->text();
            jobEndedBeforeOk = window && Control(*window, "IDC_1006")->isEnabled();
            box->button(QMessageBox::Ok)->click();
        }
    });
    confirmer.start(20);

    // No monitor file: the job's reader reports the missing file.
    TempDir empty;
    window = std::make_unique<CDownloadDlg>(app, Sources(empty.path().string()));
    window->show();
    Control(*window, "IDC_1006")->click();
    ASSERT_TRUE(WaitForJobEnd(*window));
    EXPECT_EQ(boxes, QStringList({"Datei nicht vorhanden!"}));
    EXPECT_FALSE(jobEndedBeforeOk);
    EXPECT_EQ(ButtonState(*window), kNotReady);

    // The worker waits for its box to come up in this thread when the window is destroyed:
    // withdrawn, the box is never shown, and the worker ends.
    std::atomic<bool> asked{false};
    SetMessageBoxHandler([&asked](const std::string& text) {
        asked = true;
        ShowGuiMessageBox(text);
    });
    const std::shared_ptr<MessageTarget> owner = window->messageTarget();
    Control(*window, "IDC_1006")->click();
    for (int i = 0; i < 500 && !asked; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(asked);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // into its wait
    window.reset();
    QApplication::processEvents();
    EXPECT_EQ(boxes.size(), 1);
    EXPECT_EQ(g_bStopJob, 1);
    EXPECT_FALSE(owner->Post(UM_PROGRESS, 0, 0));  // nothing reaches a window that is gone
    SetMessageBoxHandler(previous);
}

TEST_F(MainWindowTest, TheVirtualTargetsAnnouncedPortIsListed) {
    const AnnouncedPorts announced;
    StartTarget({"--link", announced.Link("quillon-sim-test")});
    CDownloadDlg window(app, {Sources().targetsFolder, {}});
    EXPECT_TRUE(
        Control<QComboBox>(window, "IDC_1004")->findText("quillon-sim-test", Qt::MatchEndsWith) >=
        0);
}

// Each drop-down reads the ports again: a target started after the window opened shows up.
// The operator's selection stays; without one the saved port is selected once it is there.
TEST_F(MainWindowTest, DroppingThePortListDownReadsThePortsAgain) {
    const AnnouncedPorts announced;
    const QString earlier = QString::fromStdString(announced.Link("quillon-sim-earlier"));
    const QString later = QString::fromStdString(announced.Link("quillon-sim-later"));
    app.m_strComPort = later;
    for (const bool operatorSelects : {false, true}) {
        SCOPED_TRACE(operatorSelects ? "selected by the operator" : "none selected");
        const VirtualTarget first(monitorFile, {"--link", earlier.toStdString()});
        CDownloadDlg window(app, {Sources().targetsFolder, {}});
        auto* ports = Control<QComboBox>(window, "IDC_1004");
        EXPECT_EQ(ports->findText(later), -1);
        EXPECT_EQ(ports->currentIndex(), -1);
        if (operatorSelects) {
            ports->setCurrentIndex(ports->findText(earlier));
        }
        const VirtualTarget second(monitorFile, {"--link", later.toStdString()});
        ports->showPopup();
        EXPECT_GE(ports->findText(later), 0);
        EXPECT_EQ(ports->currentText(), operatorSelects ? earlier : later);
        ports->hidePopup();
    }
}

// The focus that a job button passes on when it disables itself makes no line current, and a
// right click selects nothing; a left click and the arrow keys do.
TEST_F(MainWindowTest, TheLogShowsOnlyTheOperatorsSelection) {
    const auto window = OpenWindow();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto* log = Control<QListWidget>(*window, "IDC_1007");
    for (const char* line : {"one", "two", "three"}) {
        window->AddLogLine(line);
    }
    auto* initialize = Control(*window, "IDC_1006");
    initialize->setFocus();
    initialize->click();
    EXPECT_TRUE(log->hasFocus());
    EXPECT_EQ(log->currentItem(), nullptr);
    EXPECT_TRUE(log->selectedItems().isEmpty());
    ASSERT_TRUE(WaitForJobEnd(*window));  // no target: it fails at once

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
