// The production view's controller without a toolkit: a recording view and a runner that the
// test plays.
#include <gtest/gtest.h>

#include <optional>

#include "database/factory_database.h"
#include "tests/support/memory_store.h"
#include "tests/support/played_production_run.h"
#include "window/production_event_poster.h"
#include "window/production_view_controller.h"

using namespace quillon;

namespace {

using Lines = std::vector<std::string>;
using Phase = StationPhase;

struct RecordingProductionView : ProductionView {
    void ShowSetup(const ProductionSetupLists& shownLists,
                   const ProductionSettings& shown) override {
        lists = shownLists;
        settings = shown;
    }
    void ShowTiles(const std::vector<StationTile>& shown) override { tiles = shown.size(); }
    void ShowTile(std::size_t, const StationTile&) override {}
    void ShowTotals(const ProductionTotals& shown, const std::string& record) override {
        totals = shown;
        recordPath = record;
    }
    void ShowRunMessage(const std::string& text) override {
        messages.push_back(text);
        runMessage = text;
    }
    void ShowControls(const ProductionControls& shown) override { controls = shown; }
    void ShowMessage(const WindowMessage& message) override {
        messages.push_back(message.text);
        boxes.push_back(message);
    }
    bool Confirm(const std::string& question) override {
        questions.push_back(question);
        return answer;
    }
    void ShowStationLog(const std::string& title, const Lines& lines) override {
        log = lines;
        log.insert(log.begin(), title);
    }
    void Close() override { ++closes; }

    ProductionSetupLists lists;
    ProductionSettings settings;
    std::size_t tiles = 0;
    ProductionTotals totals;
    std::string recordPath;
    ProductionControls controls;
    Lines messages;
    std::string runMessage;
    std::vector<WindowMessage> boxes;
    Lines questions;
    bool answer = true;
    Lines log;
    int closes = 0;
};

ProductionSettings GoodSettings() {
    ProductionSettings settings;
    settings.target = "Board";
    settings.image = "image.hex";
    settings.stations = {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2"};
    settings.record = "boards.jsonl";
    return settings;
}

// A controller with three stations started, its clock in the test's hand. The runner's own
// events wait in `posted` until the test hands them to the GUI thread (Deliver).
struct Fixture {
    Fixture() {
        ProductionSources sources;
        sources.enumeratePorts = [](std::vector<PortEntry>& ports) {
            ports.push_back({"/dev/ttyUSB0", "Fixture socket A"});
            return Status();
        };
        sources.runner = runner.Factory()(poster);
        controller = std::make_unique<ProductionViewController>(view, store, std::move(sources));
        controller->Open();
    }
    void Start() { controller->OnStart(GoodSettings()); }
    // The run's events as the poster hands them over in the GUI thread.
    void Phase(std::size_t station, StationPhase phase) {
        if (phase == StationPhase::kInitializing) {
            controller->OnStationStarted({station, "", 1, std::nullopt});
        }
        controller->OnStationStatus({station, phase, ""});
    }
    void End() { controller->OnRunEnded({}); }
    void Deliver() {
        for (ProductionEventPoster::Call& call : std::exchange(posted, {})) {
            call(*controller);
        }
    }

    std::vector<ProductionEventPoster::Call> posted;
    ProductionEventPoster poster{
        [this](ProductionEventPoster::Call call) { posted.push_back(std::move(call)); }};
    PlayedProductionRun runner;
    RecordingProductionView view;
    MemoryStore store;
    std::unique_ptr<ProductionViewController> controller;
};

// The view's controls, as the operator presses them.
enum class Control { kNext, kStop, kAbort, kEscape, kClose };

void Press(ProductionViewController& controller, Control control) {
    switch (control) {
        case Control::kNext:
            controller.OnNext();
            break;
        case Control::kStop:
            controller.OnStop();
            break;
        case Control::kAbort:
            controller.OnAbort();
            break;
        case Control::kEscape:
            controller.OnEscape();
            break;
        case Control::kClose:
            controller.OnClose();
            break;
    }
}

}  // namespace

TEST(ProductionSettings, DefaultsRoundTripAndStrangeValues) {
    MemoryStore store;
    EXPECT_EQ(LoadProductionSettings(store), ProductionSettings{});

    ProductionSettings saved = GoodSettings();
    saved.baudRate = BaudRate{115200};
    saved.echoWindow = EchoWindow{16};
    saved.eraseAll = false;
    saved.serialSource = SerialNumberSource::kDatabaseCounter;
    saved.serialCounter = "line-3";
    saved.serialAt = "0x1FF00";
    saved.serialFormat = "dec:6";
    // A build without the database keeps no connection string.
    const std::string database = FactoryDatabase::Available() ? "postgresql://factory/line" : "";
    saved.database = database;
    saved.repeat = RepeatMode::kReplug;
    SaveProductionSettings(store, saved);
    EXPECT_EQ(store.values.at("Production/Stations"), "/dev/ttyUSB0\n/dev/ttyUSB1\n/dev/ttyUSB2");
    EXPECT_EQ(LoadProductionSettings(store), saved);

    // What a hand edited: unknown words read as the defaults, blank station lines are skipped,
    // and a connection string with a password is never written.
    store.values["Production/SerialSource"] = "dice";
    store.values["Production/Repeat"] = "twice";
    store.values["Production/Stations"] = "\nCOM3\n\n";
    const ProductionSettings edited = LoadProductionSettings(store);
    EXPECT_EQ(edited.serialSource, SerialNumberSource::kOff);
    EXPECT_EQ(edited.repeat, RepeatMode::kEnter);
    EXPECT_EQ(edited.stations, Lines{"COM3"});
    saved.database = "host=factory password=secret";
    SaveProductionSettings(store, saved);
    EXPECT_EQ(store.values.at("Production/Database"), database);
}

TEST(ProductionSettings, CheckRefusesWhatCannotRun) {
    using Change = std::function<void(ProductionSettings&)>;
    const auto serial = [](SerialNumberSource source) {
        return [source](ProductionSettings& s) {
            s.serialSource = source;
            s.serialAt = "0x1FF00";
            s.serialFormat = "dec:6";
        };
    };
    const std::pair<Change, bool> rows[] = {
        {[](ProductionSettings&) {}, true},
        {[](ProductionSettings& s) { s.target.clear(); }, false},
        {[](ProductionSettings& s) { s.image.clear(); }, false},
        {[](ProductionSettings& s) { s.baudRate.reset(); }, false},
        {[](ProductionSettings& s) { s.stations.clear(); }, false},
        {[](ProductionSettings& s) { s.record.clear(); }, false},
        {[](ProductionSettings& s) {
             s.stations = {"/dev/ttyUSB0", "/dev/same"};
         },
         false},
        {[](ProductionSettings& s) {
             s.stations = {"rfc2217://line:7001", "rfc2217://line:7001"};
         },
         false},
        {[](ProductionSettings& s) { s.stations = {"socket://line"}; }, false},  // no port
        {[](ProductionSettings& s) { s.database = "host=db password=x"; }, false},
        {serial(SerialNumberSource::kCounterFile), false},  // no file
        {[&](ProductionSettings& s) {
             serial(SerialNumberSource::kCounterFile)(s);
             s.serialFile = "counter.txt";
         },
         true},
        {[&](ProductionSettings& s) {
             serial(SerialNumberSource::kListFile)(s);
             s.serialFile = "list.txt";
             s.serialFormat = "nonsense";
         },
         false},
        {[&](ProductionSettings& s) {
             serial(SerialNumberSource::kListFile)(s);
             s.serialFile = "list.txt";
             s.serialAt = "130816";  // an address needs its 0x
         },
         false},
        {[&](ProductionSettings& s) {
             serial(SerialNumberSource::kDatabaseCounter)(s);
             s.serialCounter = "line-3";
         },
         false},  // no database
        {[&](ProductionSettings& s) {
             serial(SerialNumberSource::kDatabaseCounter)(s);
             s.serialCounter = "line-3";
             s.database = "postgresql://factory/line";
         },
         FactoryDatabase::Available()},  // a build without the database refuses it
        {[&](ProductionSettings& s) {
             serial(SerialNumberSource::kCounterFile)(s);
             s.serialFile = "counter.txt";
             s.serialFormat.clear();
         },
         false},
    };
    const SameDeviceCheck sameDevice = [](const Lines& ports) {
        return ports.size() == 2 && ports[1] == "/dev/same" ? "ports are the same device" : "";
    };
    for (std::size_t row = 0; row < std::size(rows); ++row) {
        ProductionSettings settings = GoodSettings();
        rows[row].first(settings);
        const Result<CheckedProductionSetup> checked =
            CheckProductionSettings(settings, sameDevice);
        EXPECT_EQ(bool(checked), rows[row].second) << "row " << row;
        if (!checked) {
            const ErrorKind refused = FactoryDatabase::Available() || settings.database.empty()
                                          ? ErrorKind::kUsage
                                          : ErrorKind::kUnsupported;
            EXPECT_EQ(checked.error().kind, refused) << "row " << row;
            EXPECT_FALSE(checked.error().text.empty()) << "row " << row;
        }
    }
}

TEST(ProductionViewController, StartRefusedOrSavedAndTilesShown) {
    Fixture f;
    EXPECT_EQ(f.view.lists.ports, Lines{"/dev/ttyUSB0"});
    EXPECT_EQ(f.view.controls, (ProductionControls{true, false, false, false}));

    ProductionSettings bad = GoodSettings();
    bad.record.clear();
    f.controller->OnStart(bad);
    EXPECT_EQ(f.view.messages.size(), 1u);
    EXPECT_TRUE(f.runner.Calls().empty());
    EXPECT_TRUE(f.store.values.empty());

    f.runner.SetStartResult(Fail(ErrorKind::kIo, "the record file cannot be opened"));
    f.Start();
    EXPECT_EQ(f.view.messages.back(), "the record file cannot be opened");
    EXPECT_FALSE(f.controller->Running());

    f.runner.SetStartResult({});
    f.Start();
    EXPECT_TRUE(f.controller->Running());
    EXPECT_EQ(f.view.tiles, 3u);
    EXPECT_EQ(f.controller->Tiles()[0].description, "Fixture socket A");
    EXPECT_EQ(f.controller->Tiles()[1].description, "/dev/ttyUSB1");
    EXPECT_EQ(f.view.recordPath, "boards.jsonl");
    EXPECT_EQ(LoadProductionSettings(f.store), GoodSettings());
    EXPECT_EQ(f.controller->StationHolding("/dev/ttyUSB1"), "station 2 (/dev/ttyUSB1)");
    EXPECT_EQ(f.controller->StationHolding("/dev/ttyUSB7"), std::nullopt);
    f.End();
    EXPECT_EQ(f.controller->StationHolding("/dev/ttyUSB1"), std::nullopt);
}

// What each control does with the first station in each phase (the others waiting for
// Enter): the runner's calls, whether a question was asked, whether the view closed.
TEST(ProductionViewController, ControlsInEveryPhase) {
    using Action = Control;
    struct Row {
        Phase phase;
        Action action;
        bool answer;
        Lines calls;  // after "start"
        bool asked;
        bool closedAtOnce;
    };
    const Row rows[] = {
        {Phase::kWaitingForEnter, Action::kNext, true, {"next"}, false, false},
        {Phase::kProgramming, Action::kNext, true, {"next"}, false, false},
        {Phase::kWaitingForEnter, Action::kStop, true, {"stop"}, false, false},
        {Phase::kErasing, Action::kStop, true, {"stop"}, false, false},
        {Phase::kWaitingForEnter, Action::kAbort, true, {}, false, false},
        {Phase::kInitializing, Action::kAbort, false, {}, true, false},
        {Phase::kInitializing, Action::kAbort, true, {"abort"}, true, false},
        {Phase::kFinalizing, Action::kAbort, true, {"abort"}, true, false},
        {Phase::kProgramming, Action::kEscape, true, {}, false, false},
        {Phase::kWaitingForEnter, Action::kEscape, true, {"stop"}, false, false},
        {Phase::kProgramming, Action::kClose, false, {}, true, false},
        {Phase::kProgramming, Action::kClose, true, {"stop"}, true, false},
        {Phase::kWaitingForBoard, Action::kClose, true, {"stop"}, false, false},
    };
    for (std::size_t row = 0; row < std::size(rows); ++row) {
        const Row& r = rows[row];
        Fixture f;
        f.Start();
        for (std::size_t station = 0; station < 3; ++station) {
            f.Phase(station, station == 0 ? r.phase : Phase::kWaitingForEnter);
        }
        f.view.answer = r.answer;
        Press(*f.controller, r.action);
        Lines expected = {"start"};
        expected.insert(expected.end(), r.calls.begin(), r.calls.end());
        EXPECT_EQ(f.runner.Calls(), expected) << "row " << row;
        EXPECT_EQ(f.view.questions.empty(), !r.asked) << "row " << row;
        EXPECT_EQ(f.view.closes, 0) << "row " << row;
        // After a stop no further board is started, and the view closes only when it was
        // asked to and the run has ended.
        const bool stopped = !r.calls.empty() && r.calls.back() != "next";
        f.controller->OnNext();
        EXPECT_EQ(f.runner.Calls().back() == "next", !stopped) << "row " << row;
        f.End();
        const bool closeAsked =
            (r.action == Action::kClose || r.action == Action::kEscape) && stopped;
        EXPECT_EQ(f.view.closes, closeAsked ? 1 : 0) << "row " << row;
        EXPECT_EQ(f.view.controls, (ProductionControls{true, false, false, false}));
    }
}

TEST(ProductionViewController, TilesFollowEveryPhaseAndOutcome) {
    Fixture f;
    f.Start();
    struct Step {
        Phase phase;
        ProductionControls controls;
    };
    const Step steps[] = {
        {Phase::kWaitingForBoard, {false, false, true, false}},
        {Phase::kInitializing, {false, false, true, true}},
        {Phase::kErasing, {false, false, true, true}},
        {Phase::kProgramming, {false, false, true, true}},
        {Phase::kFinalizing, {false, false, true, true}},
        {Phase::kWaitingForNumber, {false, false, true, false}},
        {Phase::kWaitingForEnter, {false, true, true, false}},
    };
    EXPECT_EQ(f.view.runMessage, "Preparing…");
    for (const Step& step : steps) {
        f.Phase(0, step.phase);
        EXPECT_EQ(f.view.runMessage, "");  // the run's first event: it is ready
        f.controller->OnStationProgress({0, ProgressPhase::kProgramming, 700, 500});
        EXPECT_EQ(f.controller->Tiles()[0].phase, step.phase);
        EXPECT_EQ(f.controller->Tiles()[0].done, 500u);  // never beyond the whole
        EXPECT_EQ(f.view.controls, step.controls) << StationPhaseText(step.phase);
    }
    // A new board empties the bar and keeps the last result until it ends.
    BoardDone failed{0, 1, BoardOutcome::kFailed, "Wrong CRC!", "000124", 12.5, {}};
    failed.totals.boards = 1;
    f.controller->OnBoardDone(failed);
    f.Phase(0, Phase::kInitializing);
    EXPECT_EQ(f.controller->Tiles()[0].done, 0u);
    EXPECT_EQ(f.controller->Tiles()[0].boards, 1);
    EXPECT_EQ(f.controller->Tiles()[0].last->failure, "Wrong CRC!");
    EXPECT_EQ(BoardResultText(BoardOutcome::kFailed), "FAILED");
    EXPECT_EQ(BoardDetailText(failed), "SN 000124  12.5 s");
    failed.serialNumber.reset();
    EXPECT_EQ(BoardDetailText(failed), "12.5 s");

    f.controller->OnStationLogLine({0, "Programming", false});
    f.controller->OnStationLogLine({7, "nobody's", false});  // no such station: ignored
    f.controller->OnOpenStationLog(0);
    EXPECT_EQ(f.view.log, (Lines{"station 1 (/dev/ttyUSB0)", "Programming"}));

    // The run's end: every tile ended, the last totals shown, a refused pair said.
    ProductionEnd end;
    end.totals.boards = 1;
    end.totals.failed = 1;
    end.sameDevice = "ports /dev/ttyUSB0 and /dev/ttyUSB2 are the same device";
    f.controller->OnRunEnded(end);
    EXPECT_EQ(f.controller->Tiles()[2].phase, Phase::kEnded);
    EXPECT_EQ(f.view.totals.failed, 1);
    EXPECT_EQ(f.view.messages.back(), end.sameDevice);
}

// While the run is made ready after Start returned: its status says so, Stop and Abort are
// offered (no board is in work, so nothing asks), Next is not. A preparation that fails is shown
// as a start refused at once; Stop, Abort, Escape and a close end it, the view closing only once
// the run's end has come back.
TEST(ProductionViewController, ThePreparationEndsOrFailsAfterStartReturned) {
    using Action = Control;
    struct Row {
        std::optional<Action> action;  // none: the preparation fails
        Lines calls;
        bool closes;
    };
    const Row rows[] = {
        {std::nullopt, {"start"}, false},
        {Action::kStop, {"start", "stop"}, false},
        {Action::kAbort, {"start", "abort"}, false},
        {Action::kEscape, {"start", "stop"}, true},
        {Action::kClose, {"start", "stop"}, true},
    };
    const std::string failure = "the record file boards.jsonl cannot be opened (Permission denied)";
    for (std::size_t row = 0; row < std::size(rows); ++row) {
        const Row& r = rows[row];
        Fixture f;
        f.runner.PlayPreparation();
        f.Start();
        EXPECT_EQ(f.view.runMessage, "Preparing…") << "row " << row;
        EXPECT_EQ(f.view.controls, (ProductionControls{false, false, true, true})) << "row " << row;
        f.view.answer = false;  // a question would keep the run going
        f.controller->OnNext();
        if (r.action) {
            Press(*f.controller, *r.action);
        } else {
            ProductionEnd end;
            end.notPrepared = failure;
            f.poster.OnRunEnded(end);
        }
        EXPECT_EQ(f.runner.Calls(), r.calls) << "row " << row;
        EXPECT_TRUE(f.view.questions.empty()) << "row " << row;
        EXPECT_EQ(f.view.closes, 0) << "row " << row;
        f.Deliver();
        EXPECT_FALSE(f.controller->Running()) << "row " << row;
        EXPECT_EQ(f.view.closes, r.closes ? 1 : 0) << "row " << row;
        EXPECT_EQ(f.view.controls, (ProductionControls{true, false, false, false}))
            << "row " << row;
        EXPECT_EQ(f.view.runMessage, "") << "row " << row;
        const std::vector<WindowMessage> boxes =
            !r.action ? std::vector<WindowMessage>{{failure}} : std::vector<WindowMessage>{};
        EXPECT_EQ(f.view.boxes, boxes) << "row " << row;
    }
}
