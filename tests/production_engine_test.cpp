// The production run as a library, driven without a terminal: its stations' programs are
// quillon-cli against quillon-sim targets, its events recorded as they come.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/sha256.h"
#include "production/production_engine.h"
#include "tests/support/process.h"
#include "tests/support/test_files.h"

using namespace quillon;

namespace {

const std::string kBin = QUILLON_BIN_DIR;
const std::string kDemo = kBin + "/samples/demo.hex";

// quillon-sim with the shipped virtual target, on a port of its own.
struct Sim {
    explicit Sim(std::vector<std::string> options = {}) {
        std::vector<std::string> argv = {
            kBin + "/quillon-sim", "--link", "none", "--ram-test-ms", "0", "--erase-ms", "1"};
        argv.insert(argv.end(), options.begin(), options.end());
        process = std::make_unique<BackgroundProcess>(argv);
        port = process->ReadLine();
    }
    std::unique_ptr<BackgroundProcess> process;
    std::string port;
};

// Every event of a run, as it came (from the run's thread).
class RecordedEvents : public ProductionEvents {
public:
    void OnStationStarted(const StationStarted& started) override {
        const std::lock_guard<std::mutex> lock(m_mutex);
        starts.push_back(started);
    }
    void OnStationStatus(const StationStatus& status) override {
        const std::lock_guard<std::mutex> lock(m_mutex);
        phases.emplace_back(status.station, status.phase);
    }
    void OnStationProgress(const StationProgress&) override {}
    void OnStationLogLine(const StationLogLine& line) override {
        const std::lock_guard<std::mutex> lock(m_mutex);
        log += std::to_string(line.station) + ": " + line.text + "\n";
    }
    void OnBoardDone(const BoardDone& done) override {
        const std::lock_guard<std::mutex> lock(m_mutex);
        boards.push_back(done);
    }
    void OnTotals(const ProductionTotals&) override {}
    void OnRunMessage(const std::string&) override {}
    void OnRunEnded(const ProductionEnd& ended) override {
        const std::lock_guard<std::mutex> lock(m_mutex);
        end = ended;
        ++ends;
    }
    template <typename F>
    bool Has(F&& condition) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return condition(*this);
    }

    std::vector<StationStarted> starts;
    std::vector<std::pair<std::size_t, StationPhase>> phases;
    bool Reached(std::size_t station, StationPhase phase) const {
        return std::find(phases.begin(), phases.end(), std::make_pair(station, phase)) !=
               phases.end();
    }
    std::string log;
    std::vector<BoardDone> boards;
    ProductionEnd end;
    int ends = 0;

private:
    std::mutex m_mutex;
};

ProductionSetup SetupFor(const std::vector<std::string>& ports, RepeatMode repeat,
                         const std::string& record) {
    ProductionSetup setup;
    setup.stationProgram = kBin + "/quillon-cli";
    setup.targetName = "Virtual Target";
    setup.monitorFile = kBin + "/Targets/virtual-target.h86";
    setup.image = kDemo;
    setup.stationImage = kDemo;
    EXPECT_TRUE(Sha256OfFile(kDemo, setup.imageSha256));
    setup.stations = ports;
    setup.repeat = repeat;
    setup.record = std::make_shared<AppendOnlyFile>();
    EXPECT_TRUE(setup.record->Open(record));
    setup.recordPath = record;
    setup.host = "bench";
    return setup;
}

std::vector<std::string> RecordLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

TEST(ProductionEngineTest, TwoStationsReportEachBoardThroughTheEvents) {
    Sim good;
    Sim faulty({"--crc-error-at", "block@3"});
    TempDir dir;
    const std::string record = (dir.path() / "record.jsonl").string();
    RecordedEvents events;
    ProductionEngine engine(SetupFor({good.port, faulty.port}, RepeatMode::kOnce, record), events,
                            SystemEnv::Default());
    engine.Start();
    engine.Wait();

    EXPECT_EQ(events.ends, 1);
    EXPECT_EQ(events.starts.size(), 2u);
    ASSERT_EQ(events.boards.size(), 2u);
    for (const BoardDone& board : events.boards) {
        const bool isGood = board.station == 0;
        EXPECT_EQ(board.board, 1);
        EXPECT_EQ(board.result, isGood ? BoardOutcome::kOk : BoardOutcome::kFailed);
        EXPECT_EQ(board.failure, isGood ? "" : "Wrong CRC!");
        EXPECT_GT(board.seconds, 0.0);
    }
    EXPECT_NE(events.log.find("0: Download finished successfully!\n"), std::string::npos);
    EXPECT_EQ(events.log.find("1: Download finished successfully!"), std::string::npos);
    for (const StationPhase phase :
         {StationPhase::kInitializing, StationPhase::kProgramming, StationPhase::kEnded}) {
        EXPECT_TRUE(events.Reached(0, phase) && events.Reached(1, phase));
    }
    const ProductionTotals totals = engine.Totals();
    EXPECT_EQ(totals.boards, 2);
    EXPECT_EQ(totals.ok, 1);
    EXPECT_EQ(totals.failed, 1);
    EXPECT_TRUE(events.end.anyFailed);
    EXPECT_FALSE(events.end.anyAborted);
    const std::vector<std::string> lines = RecordLines(record);
    ASSERT_EQ(lines.size(), 2u);
    for (const std::string& line : lines) {
        EXPECT_NE(line.find(line.find(good.port) != std::string::npos ? "\"result\": \"ok\""
                                                                      : "\"result\": \"failed\""),
                  std::string::npos)
            << line;
    }
}

// Each wait of a run ends on Stop or Abort: the boards in work end with their record lines,
// no station starts another board, and the run ends without any further event from outside.
TEST(ProductionEngineTest, StopAndAbortReachEveryWait) {
    enum class Command { kStop, kAbort, kAbortTwice, kDestroy };
    struct Case {
        const char* name;
        RepeatMode repeat;
        bool programPresent;  // false: the stations' ports do not exist (an empty fixture)
        StationPhase when;    // the phase both stations are seen in before the command
        Command command;
        int boards;  // record lines, every board started having one
        bool aborted;
    };
    const Case cases[] = {
        {"q while both wait for Enter", RepeatMode::kEnter, true, StationPhase::kWaitingForEnter,
         Command::kStop, 2, false},
        {"abort while both wait for Enter", RepeatMode::kEnter, true,
         StationPhase::kWaitingForEnter, Command::kAbort, 2, false},
        {"abort while both program", RepeatMode::kEnter, true, StationPhase::kProgramming,
         Command::kAbort, 2, true},
        {"a second abort kills the programs", RepeatMode::kOnce, true, StationPhase::kProgramming,
         Command::kAbortTwice, 2, true},
        {"the owner goes while both program", RepeatMode::kOnce, true, StationPhase::kProgramming,
         Command::kDestroy, 2, true},
        {"abort while the fixture is empty", RepeatMode::kReplug, false,
         StationPhase::kWaitingForBoard, Command::kAbort, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Slow enough that the command comes while the blocks go out.
        const std::vector<std::string> pace = {"--program-ms",
                                               c.when == StationPhase::kProgramming ? "20" : "0"};
        Sim a(pace);
        Sim b(pace);
        std::vector<std::string> ports = {a.port, b.port};
        if (!c.programPresent) {
            ports = {a.port + "-gone", b.port + "-gone"};
        }
        TempDir dir;
        const std::string record = (dir.path() / "record.jsonl").string();
        RecordedEvents events;
        auto engine = std::make_unique<ProductionEngine>(SetupFor(ports, c.repeat, record), events,
                                                         SystemEnv::Default());
        engine->Start();
        ASSERT_TRUE(WaitUntil(
            [&] {
                return events.Has([&](RecordedEvents& e) {
                    return e.Reached(0, c.when) && e.Reached(1, c.when);
                });
            },
            std::chrono::seconds(20)))
            << events.log;
        switch (c.command) {
            case Command::kStop:
                engine->Stop();
                break;
            case Command::kAbortTwice:
                engine->Abort();
                [[fallthrough]];
            case Command::kAbort:
                engine->Abort();
                break;
            case Command::kDestroy:
                engine.reset();  // aborts the run and waits for its end
                break;
        }
        if (engine) {
            EXPECT_TRUE(engine->WaitFor(std::chrono::seconds(20)));
        }
        ASSERT_EQ(events.ends, 1);
        EXPECT_EQ(events.end.anyAborted, c.aborted);
        EXPECT_EQ(static_cast<int>(events.boards.size()), c.boards);
        EXPECT_EQ(static_cast<int>(RecordLines(record).size()), c.boards);
        for (const BoardDone& board : events.boards) {
            EXPECT_EQ(board.result == BoardOutcome::kOk, !c.aborted);
        }
    }
}

// An abort reaches a station waiting for its serial number (a counter's lock another program
// holds): the board never begins, and the run says it was stopped short.
TEST(ProductionEngineTest, AnAbortEndsTheWaitForANumber) {
    class HeldCounter : public SerialSource {
    public:
        std::atomic<bool> waiting{false};

    private:
        Result<std::uint64_t> Next(bool, const std::function<bool()>& stopRequested,
                                   const SerialClaim&) override {
            waiting = true;
            while (!stopRequested()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));  // the lock's retry
            }
            return Fail(ErrorKind::kAborted, "stopped");
        }
    };
    TempDir dir;
    const std::string record = (dir.path() / "record.jsonl").string();
    ProductionSetup setup = SetupFor({"unused"}, RepeatMode::kOnce, record);
    auto counter = std::make_shared<HeldCounter>();
    setup.serialSource = counter;
    RecordedEvents events;
    ProductionEngine engine(std::move(setup), events, SystemEnv::Default());
    engine.Start();
    ASSERT_TRUE(WaitUntil([&] { return counter->waiting.load(); }, std::chrono::seconds(20)));
    engine.Abort();
    ASSERT_TRUE(engine.WaitFor(std::chrono::seconds(20)));
    EXPECT_TRUE(events.end.stoppedWithoutNumber);
    EXPECT_TRUE(events.boards.empty());
    EXPECT_TRUE(RecordLines(record).empty());
}

TEST(ProductionEngineTest, WaitingBeforeStartReturnsAtOnce) {
    RecordedEvents events;
    TempDir dir;
    ProductionEngine engine(
        SetupFor({"unused"}, RepeatMode::kOnce, (dir.path() / "r.jsonl").string()), events,
        SystemEnv::Default());
    EXPECT_FALSE(engine.WaitFor(std::chrono::milliseconds(0)));
    engine.Wait();
    EXPECT_FALSE(engine.Finished());
    EXPECT_EQ(events.ends, 0);
}
