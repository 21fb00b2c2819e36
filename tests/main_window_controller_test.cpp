// The main window's controller without a toolkit: a recording view, jobs that a test double
// takes (the test feeds their events) or a JobRunner on lines that a fake opener opens.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <optional>
#include <tuple>

#include "platform/latency_timer.h"
#include "platform/serial_device.h"
#include "tests/support/fake_jobs.h"
#include "tests/support/memory_store.h"
#include "tests/support/monitor_file.h"
#include "tests/support/recording_view.h"
#include "tests/support/test_files.h"
#include "window/main_window_controller.h"
#include "window/options_dialog.h"

using namespace quillon;

void PrintTo(const WindowSettings& settings, std::ostream* out) {
    *out << '"' << settings.target << "\" " << settings.port << " "
         << (settings.baudRate ? BaudRateText(*settings.baudRate) : "-") << " "
         << settings.eraseAll;
}

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

PortEnumerator ListPorts(const Lines* ports) {
    return [ports](std::vector<PortEntry>& listed) {
        for (const std::string& port : *ports) {
            listed.push_back({port, port});
        }
        return Status();
    };
}

JobEvent Event(JobEvent::Kind kind, const std::string& text = {}) {
    JobEvent event;
    event.kind = kind;
    event.text = text;
    return event;
}
JobEvent Progress(std::uint32_t done, std::uint32_t total) {
    JobEvent event = Event(JobEvent::Kind::kProgress);
    event.done = done;
    event.total = total;
    return event;
}
JobEvent Done(JobOutcome outcome, FailureReason reason = FailureReason::kNone) {
    JobEvent event = Event(JobEvent::Kind::kDone);
    event.result = {outcome, reason, {}};
    return event;
}
const JobEvent kSucceeded = Done(JobOutcome::kSucceeded);
const JobEvent kFailed = Done(JobOutcome::kFailed, FailureReason::kNoAnswer);
const JobEvent kAborted = Done(JobOutcome::kAborted, FailureReason::kAborted);

const Lines kNotReady = {"controls I- Close on", "progress 0/0"};
// After a job that failed or was aborted before any progress: the bar in its failed look.
const Lines kFailedEnd = {"controls I- Close on", "progress 0/0 failed"};

class ControllerTest : public ::testing::Test {
protected:
    ControllerTest() {
        fs::create_directory(dir.path() / "Targets");
        WriteTarget("Mon_1.h86", "Beta");
        WriteTarget("Mon_2.h86", "alpha");
    }
    std::string WriteTarget(const std::string& file, const std::string& name) const {
        MonitorFileSpec spec;
        spec.targetName = name;
        dir.Write("Targets/" + file, spec.HexText());
        return (dir.path() / "Targets" / file).string();
    }
    // Opens the window; its jobs go to `jobs`, or to a JobRunner on `opener`'s lines.
    MainWindowController& Open(ChannelOpener opener = {}) {
        MainWindowSources sources{{{(dir.path() / "Targets").string()}, ""}, ListPorts(&ports), {}};
        sources.start = start;
        sources.stationHolding = stationHolding;
        sources.jobs = opener ? MakeJobRunner(std::move(opener))
                              : std::unique_ptr<JobStarter>(std::make_unique<FakeJobs>(jobs));
        controller = std::make_unique<MainWindowController>(view, settings, std::move(sources));
        controller->Open();
        view.Take();
        return *controller;
    }
    // Initialize, ended with `done`; the view's lines since.
    Lines Initialize(const JobEvent& done) {
        controller->OnInitialize();
        controller->OnJobEvent(done);
        return view.Take();
    }

    TempDir dir;
    Lines ports = {"COM3", "COM10"};
    WindowSettings settings{"beta", "COM1", BaudRate{115200}, 0};
    StartSelection start;
    std::function<std::optional<std::string>(const std::string&)> stationHolding;
    RecordingView view;
    std::shared_ptr<FakeJobRecord> jobs = std::make_shared<FakeJobRecord>();
    std::unique_ptr<MainWindowController> controller;
};

TEST_F(ControllerTest, OpensWithTheListsTheSavedChoicesAndTheReadersTexts) {
    // An unknown record type, then no end record: listed by its file name after both texts.
    dir.Write("Targets/Mon_Odd.h86", ":00000006FA\n");
    controller = std::make_unique<MainWindowController>(
        view, settings,
        MainWindowSources{{{(dir.path() / "Targets").string()}, ""}, ListPorts(&ports), {}});
    controller->Open();
    controller->SetImageFile("/images/fw.hex");  // named on the command line
    EXPECT_EQ(view.Take(),
              (Lines{"image ", "erase 0", "box ! Das unbekannte Protokoll 06, wird ignoriert!",
                     "ok", "box ! Datei beendet", "ok", "list target alpha,Beta,Odd @1",
                     "list port COM10,COM3 @0", "list baud 9600,19200,38400,57600,115200 @4",
                     "controls I- Close on", "progress 0/0", "image /images/fw.hex"}));
    EXPECT_EQ(settings,
              (WindowSettings{"beta", "COM1", BaudRate{115200}, 0}));  // nothing recorded yet
}

// What the settings store could not use is the log's first line.
TEST_F(ControllerTest, TheLogOpensWithTheSettingsNote) {
    controller = std::make_unique<MainWindowController>(
        view, settings,
        MainWindowSources{
            {{(dir.path() / "Targets").string()}, ""}, ListPorts(&ports), {}, "settings note"});
    controller->Open();
    EXPECT_EQ(view.Take().front(), "log 0 settings note");
}

TEST_F(ControllerTest, InitializeTakesTheSelectionsAndRecordsThem) {
    // A name that ends in spaces keeps them, and its own file.
    const std::string spaces = WriteTarget("Mon_3.h86", "Board   ");
    const std::string alpha = (dir.path() / "Targets" / "Mon_2.h86").string();
    const std::tuple<int, int, int, std::string, LineSettings, WindowSettings> rows[] = {
        // target, port, baud rate selected: the monitor file, the line, the settings after
        {kNoSelection, kNoSelection, kNoSelection, "", {"COM1", {57600}}, settings},
        {0, 1, 0, alpha, {"COM3", {9600}}, {"alpha", "COM3", BaudRate{9600}, 0}},
        {2, 0, 4, spaces, {"COM10", {115200}}, {"Board   ", "COM10", BaudRate{115200}, 0}},
    };
    for (const auto& [target, port, baud, file, line, after] : rows) {
        SCOPED_TRACE(file);
        settings = {"beta", "COM1", BaudRate{115200}, 0};
        settings.echoWindow = EchoWindow{static_cast<std::uint32_t>(16 + target)};  // kept as read
        jobs = std::make_shared<FakeJobRecord>();
        MainWindowController& window = Open();
        window.OnTargetSelected(target);
        window.OnPortSelected(port);
        window.OnBaudrateSelected(baud);
        window.OnEraseAllChanged(true);  // not read by Initialize
        window.OnInitialize();
        EXPECT_EQ(view.Take(),
                  (Lines{"log 0 Echo window: " + std::to_string(16 + target) + " bytes",
                         "controls -- Cancel off", "progress 0/0"}));
        window.OnInitialize();  // while it runs: nothing
        ASSERT_EQ(jobs->requests.size(), 1u);
        const JobRequest& request = jobs->requests[0];
        EXPECT_EQ(std::get<InitializeRequest>(request.job).monitorFile, file);
        EXPECT_EQ(std::get<InitializeRequest>(request.job).echoWindow, settings.echoWindow);
        EXPECT_EQ(std::tie(request.line.port, request.line.baud), std::tie(line.port, line.baud));
        WindowSettings expected = after;
        expected.echoWindow = settings.echoWindow;
        EXPECT_EQ(settings, expected);
    }
}

// Rates added in the Options dialog join the baud rate list in their order once it is
// confirmed; one selected goes to the job and into "Baudrate" as its decimal text, and a
// rate taken off the list leaves it without a selection.
TEST_F(ControllerTest, AddedBaudRatesJoinTheListAndReachTheJob) {
    MainWindowController& window = Open();
    MemoryStore store;
    OptionsDialog dialog(settings);
    ASSERT_TRUE(dialog.Accept("1", "1000000 250000", settings, store));
    window.OnOptionsAccepted();
    EXPECT_EQ(view.Take(), (Lines{"list baud 9600,19200,38400,57600,115200,250000,1000000 @4"}));
    window.OnBaudrateSelected(5);
    window.OnInitialize();
    ASSERT_EQ(jobs->requests.size(), 1u);
    EXPECT_EQ(jobs->requests[0].line.baud, BaudRate{250000});
    EXPECT_EQ(settings.baudRate, BaudRate{250000});
    SaveWindowSettings(store, settings);
    EXPECT_EQ(store.values["Last Connection/Baudrate"], "250000");
    EXPECT_EQ(LoadWindowSettings(store).baudRate, BaudRate{250000});
    controller->OnJobEvent(kSucceeded);
    view.Take();

    ASSERT_TRUE(dialog.Accept("1", "1000000", settings, store));
    window.OnOptionsAccepted();
    EXPECT_EQ(view.Take().front(), "list baud 9600,19200,38400,57600,115200,1000000 @-1");
}

TEST_F(ControllerTest, StartDownloadTakesTheImageFieldAndEraseAllWhenPressed) {
    MainWindowController& window = Open();
    window.OnImageFileEdited("early.hex");
    window.OnEraseAllChanged(true);
    window.OnStartDownload();  // not ready: no job
    EXPECT_TRUE(jobs->requests.empty());
    EXPECT_EQ(Initialize(kSucceeded), (Lines{"controls -- Cancel off", "progress 0/0",
                                             "controls ID Close on", "progress 1/1"}));

    window.OnImageFileEdited("/images/fw.hex");
    window.OnEraseAllChanged(false);
    window.OnStartDownload();
    window.OnEraseAllChanged(true);  // after the press: for the next one
    EXPECT_EQ(view.Take(), (Lines{"controls -- Close off", "progress 0/0"}));
    ASSERT_EQ(jobs->requests.size(), 2u);
    const auto& download = std::get<DownloadRequest>(jobs->requests[1].job);
    EXPECT_EQ(std::tie(download.image, download.imageFile, download.eraseAll),
              std::make_tuple(nullptr, std::string("/images/fw.hex"), false));
    EXPECT_EQ(jobs->requests[1].line.port, "COM10");
    EXPECT_EQ(settings.eraseAll, 0);

    // Only a download that succeeded leaves the window ready for the next one.
    window.OnJobEvent(kFailed);
    EXPECT_EQ(view.Take(), kFailedEnd);
    window.OnStartDownload();
    EXPECT_EQ(jobs->requests.size(), 2u);
    EXPECT_EQ(settings.eraseAll, 1);  // taken all the same, as the press transfers the fields
}

TEST_F(ControllerTest, Button1EscapeAndTheCloseBoxInEachState) {
    // How the window got to its state, the action: stop requests, what the view saw, whether
    // the selections and "Erase all sectors" went into the settings.
    const auto initializing = [](MainWindowController& w) { w.OnInitialize(); };
    const auto abortAsked = [](MainWindowController& w) {
        w.OnInitialize();
        w.OnCloseButton();
    };
    const auto downloading = [](MainWindowController& w) {
        w.OnInitialize();
        w.OnJobEvent(kSucceeded);
        w.OnStartDownload();
    };
    const auto button1 = [](MainWindowController& w) { w.OnCloseButton(); };
    const auto escape = [](MainWindowController& w) { w.OnCancel(); };
    const auto closeBox = [](MainWindowController& w) {
        if (w.MayCloseFromFrame()) {
            w.OnCancel();
        }
    };
    using Step = std::function<void(MainWindowController&)>;
    const std::tuple<const char*, Step, Step, int, Lines, bool> rows[] = {
        {"not ready, button 1", [](MainWindowController&) {}, button1, 0, {"close 1"}, true},
        {"not ready, Escape", [](MainWindowController&) {}, escape, 0, {"close 2"}, false},
        {"not ready, close box", [](MainWindowController&) {}, closeBox, 0, {"close 2"}, false},
        {"initializing, button 1", initializing, button1, 1, {}, false},
        {"initializing, Escape", initializing, escape, 0, {}, false},  // the job goes on, seen
        {"initializing, close box", initializing, closeBox, 0, {}, false},
        {"abort asked, button 1", abortAsked, button1, 1, {"close 1"}, true},
        {"downloading, button 1", downloading, button1, 1, {}, false},
        {"downloading, Escape", downloading, escape, 0, {}, false},
        {"downloading, close box", downloading, closeBox, 0, {}, false},
    };
    for (const auto& [name, reach, act, stops, shown, recorded] : rows) {
        SCOPED_TRACE(name);
        settings = {"beta", "COM1", BaudRate{115200}, 1};
        jobs = std::make_shared<FakeJobRecord>();
        MainWindowController& window = Open();
        reach(window);
        window.OnPortSelected(1);
        window.OnEraseAllChanged(false);
        view.Take();
        const WindowSettings before = settings;
        act(window);
        EXPECT_EQ(jobs->stops, stops);
        EXPECT_EQ(view.Take(), shown);
        const WindowSettings closedWithOk{"Beta", "COM3", BaudRate{115200}, 0};
        EXPECT_EQ(settings, recorded ? closedWithOk : before);
        // Closed, the window starts nothing more.
        const std::size_t started = jobs->requests.size();
        if (!shown.empty()) {
            window.OnCloseButton();
            window.OnInitialize();
            EXPECT_EQ(jobs->requests.size(), started);
            EXPECT_TRUE(view.Take().empty());
        }
    }
}

// A window closed during its job (button 1 after the abort request) is gone at once; the job's
// events are still handled.
TEST_F(ControllerTest, ClosedDuringAJobItsEndIsStillHandled) {
    MainWindowController& window = Open();
    window.OnInitialize();
    window.OnCloseButton();
    window.OnCloseButton();
    EXPECT_EQ(jobs->stops, 1);
    EXPECT_TRUE(window.JobRunning());
    window.OnJobEvent(Progress(300, 700));
    window.OnJobEvent(Event(JobEvent::Kind::kLine, "Monitor started!"));
    window.OnJobEvent(kSucceeded);
    EXPECT_EQ(view.Take(),
              (Lines{"controls -- Cancel off", "progress 0/0", "close 1", "progress 300/700",
                     "log 0 Monitor started!", "controls ID Close on", "progress 700/700"}));
    EXPECT_FALSE(window.JobRunning());
}

TEST_F(ControllerTest, JobEventsInTheLogTheProgressBarAndBoxes) {
    MainWindowController& window = Open();
    window.OnInitialize();
    view.Take();
    JobEvent message = Event(JobEvent::Kind::kReaderMessage, "Datei nicht vorhanden!");
    message.file = "/no/such.h86";
    const std::pair<std::function<void()>, Lines> steps[] = {
        {[&] { window.OnJobEvent(Event(JobEvent::Kind::kAppend, "*")); }, {"log 0 *"}},
        {[&] { window.OnJobEvent(Event(JobEvent::Kind::kLine, "Erasing")); }, {"log 1 Erasing"}},
        {[&] { window.OnJobEvent(Event(JobEvent::Kind::kAppend, " sector")); },
         {"log= 1 Erasing sector"}},
        {[&] { window.OnJobEvent(Progress(700, 700)); }, {"progress 700/700"}},
        {[&] { window.OnJobEvent(Progress(5, 3)); }, {"progress 3/3"}},
        {[&] { window.OnJobEvent(Progress(0, 0)); }, {}},
        {[&] { window.OnJobEvent(Progress(1, 4)); }, {"progress 1/4"}},
        {[&] { window.OnJobEvent(Event(JobEvent::Kind::kDebug, "To few bytes, 01")); },
         {"debug To few bytes, 01"}},
        {[&] { window.OnJobEvent(message); }, {"box ! Datei nicht vorhanden!", "ok"}},
        // After "Clear" the next mark is a line of its own.
        {[&] { window.OnClearLog(); }, {"clear"}},
        {[&] { window.OnJobEvent(Event(JobEvent::Kind::kAppend, "*")); }, {"log 0 *"}},
        {[&] { window.OnJobEvent(kAborted); },
         {"log 1 Aborted by user!", "controls I- Close on", "progress 1/4 failed"}},
        // A job ends once; progress after its end is not shown.
        {[&] { window.OnJobEvent(kAborted); }, {}},
        {[&] { window.OnJobEvent(Progress(1, 2)); }, {}},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        steps[i].first();
        EXPECT_EQ(view.Take(), steps[i].second) << "step " << i;
    }
}

// A download whose answers came late tells in one log line how to lower the adapter's latency
// timer, once for the port; prompt answers or none measured say nothing.
TEST_F(ControllerTest, ALatencyTimerIsAdvisedOnOnceInTheLog) {
    MainWindowController& window = Open();
    window.OnImageFileEdited("/images/fw.hex");
    Initialize(kSucceeded);
    const auto download = [&](std::optional<std::uint64_t> delayUs) {
        JobEvent done = kSucceeded;
        if (delayUs) {
            done.result.downloadTiming = DownloadTiming{*delayUs, 9000};
        }
        window.OnStartDownload();
        window.OnJobEvent(done);
        Lines logged;
        for (const std::string& line : view.Take()) {
            if (line.rfind("log", 0) == 0) {
                logged.push_back(line);
            }
        }
        return logged;
    };
    const std::string advice = LatencyTimerAdvice("COM10", 15900);
    EXPECT_EQ(download(std::nullopt), Lines{});
    EXPECT_EQ(download(DownloadTiming::kLatencyTimerShownAboveUs), Lines{});
    EXPECT_EQ(download(15900), Lines{"log 0 " + advice});
    EXPECT_EQ(download(15900), Lines{});
}

// While a box is open the GUI thread's loop goes on: the events it hands over meanwhile are
// shown once the box is confirmed, in their order, the job's end once.
TEST_F(ControllerTest, EventsDuringABoxFollowItInOrder) {
    MainWindowController& window = Open();
    window.OnInitialize();
    view.Take();
    view.whileBoxOpen = [&](const std::string& text) {
        if (text == "first") {
            window.OnJobEvent(Event(JobEvent::Kind::kReaderMessage, "second"));
            window.OnJobEvent(Event(JobEvent::Kind::kLine, "after"));
            window.OnJobEvent(kFailed);
            window.OnJobEvent(kFailed);
        }
    };
    window.OnJobEvent(Event(JobEvent::Kind::kLine, "before"));
    window.OnJobEvent(Event(JobEvent::Kind::kReaderMessage, "first"));
    EXPECT_EQ(view.Take(), (Lines{"log 0 before", "box ! first", "ok", "box ! second", "ok",
                                  "log 1 after", "controls I- Close on", "progress 0/0 failed"}));
}

// The status line through every way a job goes, decided by the job's result. Steps: I
// Initialize, D Start Download, B button 1, E Escape, P progress, and the job's end: S success,
// F failure, M failure with a line of two, A abort.
TEST_F(ControllerTest, TheStatusLineSaysTheJobsStateAndOutcome) {
    JobEvent crc = Done(JobOutcome::kFailed, FailureReason::kWrongCrc);
    crc.result.text = "Wrong CRC!";
    JobEvent noHeader = Done(JobOutcome::kFailed, FailureReason::kNoMonitorHeader);
    noHeader.result.text = "Invalid monitor file!\nNo specification found.";
    const std::pair<std::string, Lines> rows[] = {
        {"", {}},
        {"IS", {"Initializing…", "Ready for Start Download"}},
        {"IM", {"Initializing…", "FAILED: Invalid monitor file! No specification found."}},
        {"IBA", {"Initializing…", "Stopping…", "Aborted"}},
        {"IEBBA", {"Initializing…", "Stopping…", "Aborted"}},
        {"ISDPS", {"Initializing…", "Ready for Start Download", "Downloading…", "Download OK"}},
        {"ISDF",
         {"Initializing…", "Ready for Start Download", "Downloading…", "FAILED: Wrong CRC!"}},
        {"ISDPF",
         {"Initializing…", "Ready for Start Download", "Downloading…", "FAILED: Wrong CRC!"}},
        {"ISDBA",
         {"Initializing…", "Ready for Start Download", "Downloading…", "Stopping…", "Aborted"}},
        {"ISDPBPA",
         {"Initializing…", "Ready for Start Download", "Downloading…", "Stopping…", "Aborted"}},
        // The stop came after the job's last poll point: it succeeded all the same.
        {"ISDBS",
         {"Initializing…", "Ready for Start Download", "Downloading…", "Stopping…", "Download OK"}},
        {"IFIS",
         {"Initializing…", "FAILED: Wrong CRC!", "Initializing…", "Ready for Start Download"}},
    };
    for (const auto& [steps, statuses] : rows) {
        SCOPED_TRACE(steps);
        view.statuses.clear();
        MainWindowController& window = Open();
        for (const char step : steps) {
            switch (step) {
                case 'I':
                    window.OnInitialize();
                    break;
                case 'D':
                    window.OnStartDownload();
                    break;
                case 'B':
                    window.OnCloseButton();
                    break;
                case 'E':
                    window.OnCancel();
                    break;
                case 'P':
                    window.OnJobEvent(Progress(128, 1024));
                    break;
                case 'S':
                    window.OnJobEvent(kSucceeded);
                    break;
                case 'F':
                    window.OnJobEvent(crc);
                    break;
                case 'M':
                    window.OnJobEvent(noHeader);
                    break;
                case 'A':
                    window.OnJobEvent(kAborted);
                    break;
            }
        }
        EXPECT_EQ(view.statuses, statuses);
    }
    // A job's end that comes while a box is open shows once the box is confirmed.
    view.statuses.clear();
    MainWindowController& window = Open();
    window.OnInitialize();
    view.whileBoxOpen = [&](const std::string&) { window.OnJobEvent(kSucceeded); };
    window.OnJobEvent(Event(JobEvent::Kind::kReaderMessage, "box"));
    EXPECT_EQ(view.statuses, (Lines{"Initializing…", "Ready for Start Download"}));
}

// Initialize says first how many monitor bytes travel before an echo is awaited, when more
// than one.
// A port that a station of the production line holds is refused, naming the station; the
// window stays ready for another port.
TEST_F(ControllerTest, APortAStationHoldsIsRefused) {
    stationHolding = [](const std::string& port) {
        return port == "COM3" ? std::optional<std::string>("station 1 (COM3)") : std::nullopt;
    };
    Open();
    controller->OnPortSelected(1);  // COM3
    controller->OnInitialize();
    EXPECT_EQ(view.Take().front(),
              "box ! The port COM3 is in use by station 1 (COM3) of the production line.");
    EXPECT_TRUE(jobs->requests.empty());
    EXPECT_FALSE(controller->JobRunning());
    controller->OnPortSelected(0);  // COM10
    controller->OnInitialize();
    EXPECT_EQ(jobs->requests.size(), 1u);
}

TEST_F(ControllerTest, InitializeLogsAnEchoWindowAboveLockStep) {
    for (const auto& [bytes, lines] : {std::pair<std::uint32_t, Lines>{1, {}},
                                       {2, {"log 0 Echo window: 2 bytes"}},
                                       {1024, {"log 0 Echo window: 1024 bytes"}}}) {
        settings.echoWindow = EchoWindow{bytes};
        MainWindowController& window = Open();
        window.OnInitialize();
        Lines expected = lines;
        expected.insert(expected.end(), {"controls -- Cancel off", "progress 0/0"});
        EXPECT_EQ(view.Take(), expected);
    }
}

TEST_F(ControllerTest, ThePortListIsReadAgainWhenItDropsDown) {
    MainWindowController& window = Open();
    window.OnPortSelected(1);  // COM3
    ports = {"COM2", "COM3", "COM0"};
    window.OnPortListOpening();
    EXPECT_EQ(view.Take(), (Lines{"list port COM0,COM2,COM3 @2"}));
}

// The command line's selections are selected for this start and never recorded; a wanted port
// that is not listed is named in the log.
TEST_F(ControllerTest, CommandLineSelectionsHoldForThisStartOnlyAndMissingPortsAreNamed) {
    const std::string noneOrFirst =
        kPortNamesAreComNames ? "no port selected" : "selected /dev/ttyUSB0";
    const Lines usb = {"/dev/ttyS0", "/dev/ttyUSB0"};
    const std::tuple<StartSelection, std::string, Lines, Lines, LineSettings, WindowSettings>
        rows[] = {
            // command line, saved port, listed: what Open shows, Initialize's line, the settings
            // after the operator picks the first port and closes
            {{"alpha", "COM3", BaudRate{9600}},
             "COM1",
             ports,
             {"list target alpha,Beta @0", "list port COM10,COM3 @1", "list baud @0"},
             {"COM3", {9600}},
             {"beta", "COM1", BaudRate{115200}, 0}},
            {{{}, "COM1", {}},  // COM10 begins with it but is another port
             "COM1",
             ports,
             {"list target alpha,Beta @1", "list port COM10,COM3 @-1",
              "log 0 Port COM1 is not present; no port selected.", "list baud @4"},
             {"COM1", {115200}},
             {"Beta", "COM1", BaudRate{115200}, 0}},
            {{},
             "/dev/ttyUSB3",
             usb,
             {"list target alpha,Beta @1",
              kPortNamesAreComNames ? "list port /dev/ttyS0,/dev/ttyUSB0 @-1"
                                    : "list port /dev/ttyS0,/dev/ttyUSB0 @1",
              "log 0 Saved port /dev/ttyUSB3 is not present; " + noneOrFirst + ".", "list baud @4"},
             {kPortNamesAreComNames ? "COM1" : "/dev/ttyUSB0", {115200}},
             {"Beta", "/dev/ttyS0", BaudRate{115200}, 0}},
        };
    for (const auto& [selection, saved, listed, shown, line, after] : rows) {
        SCOPED_TRACE(saved);
        start = selection;
        settings = {"beta", saved, BaudRate{115200}, 0};
        ports = listed;
        jobs = std::make_shared<FakeJobRecord>();
        controller = std::make_unique<MainWindowController>(
            view, settings,
            MainWindowSources{{{(dir.path() / "Targets").string()}, ""},
                              ListPorts(&ports),
                              std::make_unique<FakeJobs>(jobs),
                              "",
                              start});
        controller->Open();
        Lines opened;
        for (const std::string& text : view.Take()) {
            if (text.rfind("list", 0) == 0 || text.rfind("log", 0) == 0) {
                // The rates are always the same five.
                opened.push_back(text.rfind("list baud", 0) == 0
                                     ? "list baud" + text.substr(text.rfind(' '))
                                     : text);
            }
        }
        EXPECT_EQ(opened, shown);
        EXPECT_EQ(view.portDescriptions.size(), listed.size());
        controller->OnInitialize();
        controller->OnJobEvent(kSucceeded);
        ASSERT_EQ(jobs->requests.size(), 1u);
        EXPECT_EQ(std::tie(jobs->requests[0].line.port, jobs->requests[0].line.baud),
                  std::tie(line.port, line.baud));
        controller->OnPortSelected(0);
        controller->OnCloseButton();
        EXPECT_EQ(settings, after);
        view.Take();
    }
}

// The controller's own JobRunner, on lines that an opener hands out: the line it asks for, the
// runner's events in the log, button 1's stop request.
TEST_F(ControllerTest, JobsRunOnTheRunnerThatTheOpenerServes) {
    // A port this user may not open gets the hint what to do (none for root, who may).
    const std::string port = dir.Write("port", "");
    fs::permissions(port, fs::perms::none);
    const std::string hint = SerialPortPermissionHint(port);
    const Lines hintLines = hint.empty() ? Lines{} : Lines{"log 2 " + hint};
    using Status = OpenedChannel::Status;
    const std::tuple<Status, std::string, bool, Lines> rows[] = {
        // the opener's answer and reason, button 1 pressed before it answers: the log lines
        {Status::kCannotOpen, "permission denied", false,
         Lines{"log 0 Unable to open COM port!", "log 1 " + port + ": permission denied"}},
        {Status::kCannotConfigure,
         "not a serial device",
         false,
         {"log 0 Error initializing COM port!", "log 1 " + port + ": not a serial device"}},
        {Status::kCannotOpen,
         "busy (another program has it)",
         true,
         {"log 0 Unable to open COM port!", "log 1 Aborted by user!"}},
    };
    for (const auto& [status, reason, abort, log] : rows) {
        SCOPED_TRACE(static_cast<int>(status) * 10 + abort);
        std::promise<void> answer;
        std::shared_future<void> answered = answer.get_future().share();
        std::vector<LineSettings> asked;
        ports = {port};
        settings = {"", port, BaudRate{19200}, 1};
        MainWindowController& window =
            Open([&, status = status, reason = reason](const LineSettings& line) {
                answered.wait();
                asked.push_back(line);
                return OpenedChannel{status, nullptr, reason, {}};
            });
        window.OnInitialize();
        if (abort) {
            window.OnCloseButton();
        }
        answer.set_value();
        ASSERT_TRUE(view.DeliverUntilJobEnds(window));
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(std::tie(asked[0].port, asked[0].baud), std::make_tuple(port, BaudRate{19200}));
        Lines expected = {"controls -- Cancel off", "progress 0/0"};
        expected.insert(expected.end(), log.begin(), log.end());
        if (status == Status::kCannotOpen && !abort) {
            expected.insert(expected.end(), hintLines.begin(), hintLines.end());
        }
        expected.insert(expected.end(), kFailedEnd.begin(), kFailedEnd.end());
        EXPECT_EQ(view.Take(), expected);
        controller.reset();
    }
    fs::permissions(port, fs::perms::owner_all);
}

// Start Download goes to the board that Initialize reached: while another port or baud rate is
// selected it is off, and the log says why once.
TEST_F(ControllerTest, StartDownloadOnlyOnTheLineTheMonitorRunsOn) {
    const std::string why =
        "log 0 Start Download needs Initialize first: the monitor runs on COM10 at 115200 baud, ";
    using Step = std::function<void(MainWindowController&)>;
    const std::tuple<const char*, Step, Lines> steps[] = {
        {"another port",
         [](MainWindowController& w) { w.OnPortSelected(1); },
         {why + "COM3 at 115200 baud is selected.", "controls I- Close on"}},
        {"another baud rate too", [](MainWindowController& w) { w.OnBaudrateSelected(0); }, {}},
        {"pressed all the same", [](MainWindowController& w) { w.OnStartDownload(); }, {}},
        {"back to the monitor's port", [](MainWindowController& w) { w.OnPortSelected(0); }, {}},
        {"and its rate",
         [](MainWindowController& w) { w.OnBaudrateSelected(4); },
         {"controls ID Close on"}},
        {"gone from the list",
         [this](MainWindowController& w) {
             ports = {"COM3"};
             w.OnPortListOpening();
         },
         {"list port COM3 @-1",
          "log 1 Start Download needs Initialize first: the monitor runs on COM10 at 115200 "
          "baud, COM1 at 115200 baud is selected.",
          "controls I- Close on"}},
    };
    MainWindowController& window = Open();
    Initialize(kSucceeded);
    for (const auto& [name, step, shown] : steps) {
        SCOPED_TRACE(name);
        step(window);
        EXPECT_EQ(view.Take(), shown);
    }
    EXPECT_EQ(jobs->requests.size(), 1u);
    EXPECT_EQ(settings.port, "COM10");  // the download that did not run recorded nothing

    // Changed while the Initialize ran: said when it ends; a new Initialize takes the selection.
    ports = {"COM3", "COM10"};
    window.OnPortListOpening();
    window.OnPortSelected(0);
    window.OnInitialize();
    window.OnPortSelected(1);
    window.OnJobEvent(kSucceeded);
    EXPECT_EQ(view.Take(),
              (Lines{"list port COM10,COM3 @0", "controls ID Close on", "controls -- Cancel off",
                     "progress 0/0",
                     "log 2 Start Download needs Initialize first: the monitor runs on COM10 at "
                     "115200 baud, COM3 at 115200 baud is selected.",
                     "controls I- Close on", "progress 1/1"}));
    window.OnInitialize();
    window.OnJobEvent(kSucceeded);
    window.OnStartDownload();
    ASSERT_EQ(jobs->requests.size(), 4u);
    EXPECT_EQ(jobs->requests[3].line.port, "COM3");
}

#ifndef _WIN32
// What of the user's list of ports was left out goes to the log when the list is read, once
// while it stays the same.
TEST_F(ControllerTest, NotesOnTheUsersPortListGoToTheLogOnce) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string previous = saved != nullptr ? saved : "";
    setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    fs::create_directory(dir.path() / "quillon");
    dir.Write("quillon/ports", "Bench\trfc2217://box:7001\nno tab\n");
    controller = std::make_unique<MainWindowController>(
        view, settings,
        MainWindowSources{{{(dir.path() / "Targets").string()}, ""}, {}, {}});  // the system's
    controller->Open();
    const Lines opened = view.Take();
    controller->OnPortListOpening();
    const Lines reopened = view.Take();
    saved != nullptr ? setenv("XDG_CONFIG_HOME", previous.c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
    const std::string note = "log 0 " + (dir.path() / "quillon" / "ports").string() +
                             ": line 2 left out: neither NAME<TAB>PORT nor a network port's "
                             "URL: 'no tab'";
    EXPECT_EQ(std::count(opened.begin(), opened.end(), note), 1)
        << ::testing::PrintToString(opened);
    EXPECT_EQ(std::count_if(reopened.begin(), reopened.end(),
                            [](const std::string& line) { return line.rfind("log", 0) == 0; }),
              0);
}
#endif

}  // namespace
