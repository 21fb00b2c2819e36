// Initialize on a virtual line, stage by stage: against the virtual target with each of its
// faults, and against answers no sound target gives. Time is virtual: a 10 s time-out costs
// nothing, and the time a job takes is exact.
#include "link/initialize_job.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "helpers/text_format.h"
#include "link/job_session.h"
#include "tests/support/hex_text.h"
#include "tests/support/job_recorder.h"
#include "tests/support/monitor_file.h"
#include "tests/support/sim_line.h"
#include "tests/support/test_files.h"
#include "tests/support/virtual_line.h"

using namespace quillon;

namespace {

using Lines = std::vector<std::string>;
using Part = ScriptedLine::Part;

const std::string kPort = "COM7";
const std::string kNoResponse = "No response from target (=> Activate BSL-Mode => Reset) !";
const Bytes kRamOk = {0xAA, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x03};
constexpr std::size_t kLoaderBytes = 40;
constexpr std::size_t kMonitorBytes = 64;

std::string WrongAnswer(unsigned expected, unsigned received) {
    return FormatText("Wrong answer (Set 0x%02X::Act 0x%02X)!", expected, received);
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The log of a sound Initialize.
Lines SoundLines(const MonitorFileSpec& spec) {
    const std::size_t loaderEnd = std::max(spec.loader.size(), std::size_t{1}) - 1;
    const std::size_t monitor = std::max(spec.monitor.size(), std::size_t{1});
    return {kPort + " initialized.",
            std::string(39, '-'),
            FormatText("Send BOOTLOAD (Level 0) !    ==> %d Bytes", spec.level0Length),
            FormatText("Send BOOTLOAD (Level 1) !    ==> %d Byte",
                       static_cast<int>(loaderEnd) - spec.level0Length + 1),
            "RAM test started.",
            "RAM test successful!",
            FormatText("Send Monitor  (Level 2) !   ==> %zu Byte", monitor),
            "Monitor started!"};
}

// Where a stop request comes from: before the job, at a log line, at a progress count, or
// once the host has written so many bytes.
struct StopAt {
    bool beforeStart = false;
    const char* line = "";  // a log line, as the rows write it
    std::uint32_t progress = 0;
    std::size_t written = 0;
};
StopAt BeforeStart() {
    return {true};
}
StopAt AtLine(const char* line) {
    return {false, line};
}
StopAt AtProgress(std::uint32_t done) {
    return {false, "", done};
}
StopAt AfterWritten(std::size_t bytes) {
    return {false, "", 0, bytes};
}

JobRecorder RunInitialize(VirtualLine& line, JobSession& session, const ChannelOpener& opener,
                          const std::string& monitorFile, const StopAt& stop = {},
                          std::uint32_t echoWindow = 1) {
    JobRecorder events;
    std::stop_source source;
    if (stop.beforeStart) {
        source.request_stop();
    }
    if (*stop.line != '\0') {
        events.StopAtLine(source, stop.line);
    }
    if (stop.progress > 0) {
        events.StopAtProgress(source, stop.progress);
    }
    line.afterWrite = [&] {
        if (stop.written > 0 && line.Written().size() == stop.written) {
            source.request_stop();
        }
    };
    JobRequest request{InitializeRequest{monitorFile, EchoWindow{echoWindow}}, {kPort}, {}};
    RunJob(request, session, opener, line.clock(), source.get_token(), events);
    line.afterWrite = nullptr;
    EXPECT_EQ(events.done.size(), 1u) << "exactly one done event";
    EXPECT_EQ(events.eventsAfterDone, 0);
    return events;
}

JobRecorder RunInitialize(VirtualLine& line, JobSession& session, const std::string& monitorFile,
                          const StopAt& stop = {}) {
    return RunInitialize(line, session, line.Opener(), monitorFile, stop);
}

// What a sound target answers, step by step: after the host has written `expect` more bytes,
// the answer named `at`.
struct Step {
    std::string at;
    std::size_t expect;
    Bytes answer;
};

std::vector<Step> SoundSteps(const MonitorFileSpec& spec) {
    const std::size_t n = spec.monitor.size();
    std::vector<Step> steps = {
        {"ident", 1, {spec.identByte}},
        {"loader-ack", spec.loader.size(), {spec.loaderAck}},
        {"ram-report", 0, kRamOk},
    };
    const Bytes opening = {0x02, 0x10, static_cast<std::uint8_t>(n & 0xFF),
                           static_cast<std::uint8_t>(n >> 8), 0x03};
    for (std::size_t row = 0; row < opening.size(); ++row) {
        steps.push_back({"monitor-load@" + std::to_string(row), 1, {opening[row]}});
    }
    for (std::size_t k = 0; k < n; ++k) {
        steps.push_back({"monitor-data@" + std::to_string(k), 1, {spec.monitor[k]}});
    }
    steps.push_back({"monitor-started", 0, {0x11}});
    return steps;
}

// An answer a scripted target gives at `at` in place of the sound one, and what follows it.
struct Answer {
    std::string at;
    Bytes bytes;
    enum Then { kGoOn, kSoundAnswer, kSilence } then = kGoOn;
};

// A sound target whose answer at `answer.at` is replaced.
ScriptedLine::Responder Target(const MonitorFileSpec& spec, std::optional<Answer> answer) {
    return [steps = SoundSteps(spec), answer, next = std::size_t{0},
            taken = std::size_t{0}](const Bytes& written) mutable {
        std::vector<Part> parts;
        taken += written.size();
        while (next < steps.size() && taken >= steps[next].expect) {
            const Step& step = steps[next++];
            taken -= step.expect;
            if (!answer || step.at != answer->at) {
                parts.push_back({0, step.answer});
                continue;
            }
            parts.push_back({0, answer->bytes});
            if (answer->then == Answer::kSoundAnswer) {
                parts.push_back({20, step.answer});
            } else if (answer->then == Answer::kSilence) {
                next = steps.size();
            }
        }
        return parts;
    };
}

class InitializeJobTest : public ::testing::Test {
protected:
    InitializeJobTest() : spec(MonitorFileSpec::VirtualTargetLike(kLoaderBytes, kMonitorBytes)) {
        monitorFile = dir.Write("target.h86", spec.HexText());
    }

    // quillon-sim's options for a target that answers at once and plays its faults in the
    // first session only.
    static std::vector<std::string> SimOptions(std::vector<std::string> faults) {
        faults.insert(faults.end(), {"--fault-session", "1", "--ram-test-ms", "0"});
        return faults;
    }

    TempDir dir;
    MonitorFileSpec spec;
    std::string monitorFile;
};

// Stage by stage, an answer or a fault of the target, and a stop request: the log, the
// result, the virtual time the job takes and the bytes it sends. After a fault of the virtual
// target a second Initialize on the same line meets the target sound again and succeeds: no
// fault leaves the line or the target unusable.
TEST_F(InitializeJobTest, EachStageAgainstEachAnswer) {
    struct Row {
        std::string name;
        std::vector<std::string> sim = {};  // faults of the virtual target; or
        std::optional<Answer> answer = {};  // the scripted target's answer instead of a sound one
        std::size_t keep = 0;               // lines of a sound run before `line`
        std::string line = {};              // the failure's line, if any
        FailureReason reason = FailureReason::kNone;  // kNone: succeeded
        std::optional<std::uint64_t> ms = {};         // the virtual time the job takes
        StopAt stop = {};
        std::optional<std::size_t> sent = {};       // the bytes the host sends
        Lines debug = {};                           // partial answers the waits took
        std::optional<std::size_t> failWrite = {};  // the host's first write that fails
    };
    const auto lost = FailureReason::kLineLost;
    const std::string lostLine = kPort + ": the line was lost (Input/output error)";
    const std::size_t level0 = static_cast<std::size_t>(spec.level0Length);
    const auto& m = spec.monitor;
    const std::size_t loaded = 1 + kLoaderBytes;  // the sync byte and the loader
    const auto inverted = [](std::uint8_t b) { return static_cast<std::uint8_t>(~b); };
    // clang-format off
    std::vector<Row> rows = {
        {"sound", {}, {}, 8},
        {"stale bytes before the job", {"--noise", "3000:idle"}, {}, 8},
        {"noise ahead of the ident byte", {"--noise", "3:before-ident"}, {}, 2,
         WrongAnswer(0x6B, 0x3F), FailureReason::kWrongAnswer},
        {"wrong ident", {"--wrong-ident", "0x12"}, {}, 2, WrongAnswer(0x6B, 0x12),
         FailureReason::kWrongAnswer, {}, {}, 1},
        {"ident late but in time", {"--late-answer", "ident:999"}, {}, 8, "", {}, 999},
        {"ident too late", {"--late-answer", "ident:1001"}, {}, 2, kNoResponse,
         FailureReason::kNoAnswer, 1000, {}, 1},
        {"silent at the ident", {"--silent-from", "ident"}, {}, 2, kNoResponse,
         FailureReason::kNoAnswer, 1000},
        {"hang-up at the ident", {"--hangup-at", "ident"}, {}, 2, kNoResponse,
         FailureReason::kNoAnswer, 0},
        {"bytes behind the ident are taken with it", {}, Answer{"ident", {0x6B, 'x', 0x00, 0xFF}},
         8},
        {"two buffers full behind the ident: the rest is the next answer", {},
         Answer{"ident", Bytes{0x6B} + Bytes(2000, 0x77)}, 4, WrongAnswer(0x3C, 0x77),
         FailureReason::kWrongAnswer},
        {"wrong loader acknowledge", {"--wrong-loader-ack", "0x99"}, {}, 4, WrongAnswer(0x3C, 0x99),
         FailureReason::kWrongAnswer, {}, {}, loaded},
        {"silent at the loader acknowledge", {"--silent-from", "loader-ack"}, {}, 4, kNoResponse,
         FailureReason::kNoAnswer, 1000},
        {"hang-up at the loader acknowledge", {"--hangup-at", "loader-ack"}, {}, 4, kNoResponse,
         FailureReason::kNoAnswer, 0},
        {"only the acknowledge is taken: what follows is the RAM report", {},
         Answer{"loader-ack", {0x3C, 0x3C, 0x3C}}, 5, WrongAnswer(0xAA, 0x3C),
         FailureReason::kWrongAnswer},
        {"RAM report marker", {"--ram-marker", "0x55"}, {}, 5, WrongAnswer(0xAA, 0x55),
         FailureReason::kWrongAnswer},
        {"RAM cell failed", {"--ram-fail", "0x00ABCDEF:0x0F:0xF0"}, {}, 5,
         "RAM test failed at address: 0x00AB.CDEF  Set: 0x0F <> 0xF0 :Act!",
         FailureReason::kRamTestFailed},
        {"RAM status failed, every other byte 0xFF", {"--ram-fail", "0xFFFFFFFF:0xFF:0xFF"}, {}, 5,
         "RAM test failed at address: 0xFFFF.FFFF  Set: 0xFF <> 0xFF :Act!",
         FailureReason::kRamTestFailed},
        {"RAM report with status 3 but a failing cell", {},
         Answer{"ram-report", {0xAA, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x03}}, 5,
         "RAM test failed at address: 0x0403.0201  Set: 0x06 <> 0x05 :Act!",
         FailureReason::kRamTestFailed},
        {"RAM report late but in time", {"--late-answer", "ram-report:9999"}, {}, 8, "", {}, 9999},
        {"RAM report split, whole in time", {"--split-answer", "ram-report:1999"}, {}, 8, "", {},
         1999},
        {"RAM report split past the wait", {"--split-answer", "ram-report:10001"}, {}, 5,
         kNoResponse, FailureReason::kNoAnswer, 10000, {}, loaded,
         {"WaitForResponse(): To few bytes, AA, FF, FF"}},
        {"silent RAM test", {"--silent-from", "ram-report"}, {}, 5, kNoResponse,
         FailureReason::kNoAnswer, 10000},
        {"hang-up at the RAM report", {"--hangup-at", "ram-report"}, {}, 5, kNoResponse,
         FailureReason::kNoAnswer, 0},
        {"RAM report and more than a buffer behind it", {},
         Answer{"ram-report", kRamOk + Bytes(1500, 0x5A)}, 7, WrongAnswer(0x02, 0x5A),
         FailureReason::kWrongAnswer},
        {"echo of 0x02 with more behind it", {}, Answer{"monitor-load@0", {0x02, 0x00, 0x00}}, 8},
        {"an echo with a byte too many answers the next byte", {},
         Answer{"monitor-data@10", {m[10], inverted(m[11])}}, 7,
         WrongAnswer(m[11], inverted(m[11])), FailureReason::kWrongAnswer, {}, {}, loaded + 5 + 12},
        {"monitor echo late but in time", {"--late-answer", "monitor-data@5:499"}, {}, 8, "", {},
         499},
        {"monitor echo too late", {"--late-answer", "monitor-data@5:501"}, {}, 7, kNoResponse,
         FailureReason::kNoAnswer, 500, {}, loaded + 5 + 6},
        {"monitor runs, more behind it", {}, Answer{"monitor-started", {0x11, 0xEE, 0x00}}, 8},
        {"monitor does not run", {}, Answer{"monitor-started", {0x12}}, 7, WrongAnswer(0x11, 0x12),
         FailureReason::kWrongAnswer},
        {"silent where the monitor runs", {"--silent-from", "monitor-started"}, {}, 7, kNoResponse,
         FailureReason::kNoAnswer, 1000},
        {"hang-up where the monitor runs", {"--hangup-at", "monitor-started"}, {}, 7, kNoResponse,
         FailureReason::kNoAnswer, 0},
        // Stop requests take effect at the poll points only.
        {"stop before the job", {}, {}, 1, "", FailureReason::kAborted, 0, BeforeStart(), 0},
        {"stop at the ident: after its answer", {}, {}, 2, "", FailureReason::kAborted, {},
         AfterWritten(1), 1},
        {"stop at a wrong ident: after its line", {"--wrong-ident", "0x12"}, {}, 2,
         WrongAnswer(0x6B, 0x12), FailureReason::kAborted, {}, AfterWritten(1), 1},
        {"stop in the RAM test: its report is still logged", {}, {}, 6, "", FailureReason::kAborted,
         {}, AtLine("RAM test started."), loaded},
        {"stop in the RAM test of a failing report", {"--ram-marker", "0x55"}, {}, 5,
         WrongAnswer(0xAA, 0x55), FailureReason::kAborted, {}, AtLine("RAM test started.")},
        {"stop while row a waits: after its echo", {}, {}, 7, "", FailureReason::kAborted, {},
         AfterWritten(loaded + 1), loaded + 1},
        {"stop in the monitor upload: before the next byte", {}, {}, 7, "", FailureReason::kAborted,
         {}, AtProgress(1), loaded + 5 + 1},
        {"stop while row e waits, which then fails", {}, Answer{"monitor-load@4", {0x00}}, 7,
         WrongAnswer(0x03, 0x00), FailureReason::kWrongAnswer, {}, AfterWritten(loaded + 5)},
        {"stop while row g waits, then the monitor runs", {}, {}, 8, "", {}, {},
         AfterWritten(loaded + 5 + kMonitorBytes)},
        {"stop while row g waits in silence", {"--silent-from", "monitor-started"}, {}, 7,
         kNoResponse, FailureReason::kNoAnswer, 1000, AfterWritten(loaded + 5 + kMonitorBytes)},
        // A failed write ends the job at once, with the port and the reason.
        {"write fails at the sync byte", {}, {}, 2, lostLine, lost, 0, {}, 0, {}, 0},
        {"write fails in Level 0", {}, {}, 3, lostLine, lost, 0, {}, 1, {}, 1},
        {"write fails in Level 1", {}, {}, 4, lostLine, lost, 0, {}, 1 + level0, {}, 1 + level0},
        {"write fails at row a", {}, {}, 7, lostLine, lost, 0, {}, loaded, {}, loaded},
        {"write fails at row e", {}, {}, 7, lostLine, lost, 0, {}, loaded + 4, {}, loaded + 4},
        {"write fails at the first monitor byte", {}, {}, 7, lostLine, lost, 0, {}, loaded + 5, {},
         loaded + 5},
    };
    // clang-format on
    // The rows of the monitor exchange: a wrong echo (scripted), silence and a hang-up of the
    // virtual target, at each opening byte and at monitor bytes first, inside and last.
    const std::uint8_t opening[] = {0x02, 0x10, kMonitorBytes, 0x00, 0x03};
    for (std::size_t row = 0; row < 5; ++row) {
        const std::string at = "monitor-load@" + std::to_string(row);
        const std::size_t sent = loaded + row + 1;
        rows.push_back({"wrong echo at " + at,
                        {},
                        Answer{at, {inverted(opening[row])}},
                        7,
                        WrongAnswer(opening[row], inverted(opening[row])),
                        FailureReason::kWrongAnswer,
                        {},
                        {},
                        sent});
        rows.push_back({"silent at " + at,
                        {"--silent-from", at},
                        {},
                        7,
                        kNoResponse,
                        FailureReason::kNoAnswer,
                        1000,
                        {},
                        sent});
        rows.push_back({"hang-up at " + at,
                        {"--hangup-at", at},
                        {},
                        7,
                        kNoResponse,
                        FailureReason::kNoAnswer,
                        0,
                        {},
                        sent});
    }
    for (const std::size_t k : {std::size_t{0}, std::size_t{31}, kMonitorBytes - 1}) {
        const std::string at = "monitor-data@" + std::to_string(k);
        const std::size_t sent = loaded + 5 + k + 1;
        rows.push_back({"wrong echo at " + at,
                        {"--wrong-echo", std::to_string(k)},
                        {},
                        7,
                        WrongAnswer(m[k], inverted(m[k])),
                        FailureReason::kWrongAnswer,
                        {},
                        {},
                        sent});
        rows.push_back({"silent at " + at,
                        {"--silent-from", at},
                        {},
                        7,
                        kNoResponse,
                        FailureReason::kNoAnswer,
                        500,
                        {},
                        sent});
        rows.push_back({"hang-up at " + at,
                        {"--hangup-at", at},
                        {},
                        7,
                        kNoResponse,
                        FailureReason::kNoAnswer,
                        0,
                        {},
                        sent});
    }

    const Lines sound = SoundLines(spec);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        VirtualClock clock;
        std::unique_ptr<VirtualLine> line;
        if (row.answer) {
            line = std::make_unique<ScriptedLine>(clock, Target(spec, row.answer));
        } else {
            auto sim = std::make_unique<SimLine>(clock, spec.HexText(), SimOptions(row.sim));
            ASSERT_TRUE(sim->ok()) << sim->error();
            line = std::move(sim);
        }
        JobSession session;
        if (row.failWrite) {
            line->FailWritesFrom(*row.failWrite, "Input/output error");
        }
        const JobRecorder events = RunInitialize(*line, session, monitorFile, row.stop);

        Lines expected(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(row.keep));
        if (!row.line.empty()) {
            expected.push_back(row.line);
        }
        if (row.reason == lost) {
            expected.push_back(kLineLostLine);
        }
        EXPECT_EQ(events.lines, expected);
        const JobResult result = events.result();
        EXPECT_EQ(result.reason, row.reason);
        EXPECT_EQ(result.outcome, row.reason == FailureReason::kNone      ? JobOutcome::kSucceeded
                                  : row.reason == FailureReason::kAborted ? JobOutcome::kAborted
                                                                          : JobOutcome::kFailed);
        EXPECT_EQ(result.text, row.reason == FailureReason::kNone      ? ""
                               : row.reason == FailureReason::kAborted ? kAbortedLine
                                                                       : row.line);
        EXPECT_EQ(session.header.has_value(), result.succeeded());
        EXPECT_EQ(events.debug, row.debug);
        if (row.ms) {
            EXPECT_EQ(clock.NowMs(), *row.ms) << "virtual ms";
        }
        if (row.sent) {
            EXPECT_EQ(line->Written().size(), *row.sent);
        }
        if (auto* sim = dynamic_cast<SimLine*>(line.get())) {
            const JobRecorder again = RunInitialize(*line, session, monitorFile);
            EXPECT_EQ(again.lines, sound) << "the second Initialize";
            EXPECT_TRUE(again.result().succeeded());
            EXPECT_TRUE(sim->target().record().faultsSeen.empty())
                << "the host sent the target something wrong: "
                << sim->target().record().faultsSeen.front().detail;
        }
    }
}

// The monitor upload in echo windows of several sizes against echo faults: a wrong echo at the
// first, a middle and the last byte, a missing echo, and a lost byte (an overrun of the
// loader's receiver) whose gap shifts every later echo onto the byte before it; and the virtual
// target's slow loader, which only lock step keeps up with. Each fault ends in its failure
// line, never in "Monitor started!", with no more than the window's bytes sent past the last
// one confirmed; a stop request lets no further byte out.
TEST_F(InitializeJobTest, EchoWindowAgainstEchoFaults) {
    struct Fault {
        std::string name;
        std::size_t at;  // the monitor byte
        Answer::Then then;
        std::uint8_t (*echo)(const Bytes& m, std::size_t k);  // none: the byte gets no echo
    };
    const auto inverted = [](const Bytes& m, std::size_t k) {
        return static_cast<std::uint8_t>(~m[k]);
    };
    const std::size_t last = kMonitorBytes - 1;
    const std::vector<Fault> faults = {
        {"wrong echo at the first byte", 0, Answer::kGoOn, inverted},
        {"wrong echo at a middle byte", 31, Answer::kGoOn, inverted},
        {"wrong echo at the last byte", last, Answer::kGoOn, inverted},
        {"no echo from a middle byte on", 20, Answer::kSilence, nullptr},
        {"a middle byte lost", 10, Answer::kGoOn, nullptr},
        {"the last byte lost: the start signal comes in place of its echo", last, Answer::kGoOn,
         nullptr},
    };
    const auto& m = spec.monitor;
    const std::size_t before = 1 + kLoaderBytes + 5;  // sync, loader, the opening rows
    const Lines sound = SoundLines(spec);
    for (const std::uint32_t window : {1u, 2u, 5u, 32u, 100u}) {
        for (const Fault& fault : faults) {
            SCOPED_TRACE(fault.name + ", window " + std::to_string(window));
            const std::string at = "monitor-data@" + std::to_string(fault.at);
            Bytes echo;
            if (fault.echo != nullptr) {
                echo = {fault.echo(m, fault.at)};
            }
            VirtualClock clock;
            ScriptedLine line(clock, Target(spec, Answer{at, echo, fault.then}));
            JobSession session;
            const JobRecorder events =
                RunInitialize(line, session, line.Opener(), monitorFile, {}, window);
            // A lost byte lets what follows answer for it: the next byte's echo, or after the
            // last byte the start signal; in lock step nothing follows, and its echo is missing.
            const bool lost = fault.echo == nullptr && fault.then == Answer::kGoOn;
            Lines expected(sound.begin(), sound.begin() + 7);
            if (fault.echo != nullptr) {
                expected.push_back(WrongAnswer(m[fault.at], echo[0]));
            } else if (lost && fault.at == last) {
                expected.push_back(WrongAnswer(m[fault.at], 0x11));
            } else if (lost && window > 1) {
                expected.push_back(WrongAnswer(m[fault.at], m[fault.at + 1]));
            } else {
                expected.push_back(kNoResponse);
            }
            EXPECT_EQ(events.lines, expected);
            EXPECT_EQ(events.result().outcome, JobOutcome::kFailed);
            EXPECT_FALSE(session.header);
            const std::size_t sent = line.Written().size() - before;
            EXPECT_GT(sent, fault.at);
            EXPECT_LE(sent, fault.at + window);
            if (expected.back() == kNoResponse) {
                // The echo time-out from the moment the byte can have left the wire: behind at
                // most the window's bytes before it, at the default 57600 baud.
                const auto leftWire = static_cast<std::uint64_t>(std::ceil(window * 10e3 / 57600));
                EXPECT_GE(clock.NowMs(), 500u);
                EXPECT_LE(clock.NowMs(), 500u + (window == 1 ? 0 : leftWire));
            }
        }
        {
            // The virtual target's own receiver: a one-byte buffer, a byte every 2 ms. The
            // bytes of a write arrive at once, right behind the echo of the last opening byte:
            // the first waits in the buffer, the rest are lost, and the next write's first
            // byte answers for the second.
            SCOPED_TRACE("slow loader, window " + std::to_string(window));
            VirtualClock clock;
            SimLine line(clock, spec.HexText(), SimOptions({"--rx-fifo", "1", "--rx-us", "2000"}));
            ASSERT_TRUE(line.ok()) << line.error();
            JobSession session;
            const JobRecorder events =
                RunInitialize(line, session, line.Opener(), monitorFile, {}, window);
            const std::string last = window == 1              ? "Monitor started!"
                                     : window < kMonitorBytes ? WrongAnswer(m[1], m[window])
                                                              : kNoResponse;
            EXPECT_EQ(events.lines.back(), last);
            EXPECT_EQ(line.target().record().overruns > 0, window > 1);
        }
        SCOPED_TRACE("sound, window " + std::to_string(window));
        VirtualClock clock;
        ScriptedLine line(clock, Target(spec, {}));
        JobSession session;
        JobRecorder events = RunInitialize(line, session, line.Opener(), monitorFile, {}, window);
        EXPECT_EQ(events.lines, sound);
        EXPECT_EQ(line.Written().size(), before + kMonitorBytes);
        for (std::size_t i = before - 5; i < line.writes().size(); ++i) {
            ASSERT_LE(line.writes()[i].bytes.size(), std::max(window, 1u)) << "write " << i;
        }

        if (events.progress.front().done == kMonitorBytes) {
            continue;  // the whole monitor in one write: no poll point after it
        }
        ScriptedLine stopped(clock, Target(spec, {}));
        events = RunInitialize(stopped, session, stopped.Opener(), monitorFile,
                               AtProgress(events.progress.front().done), window);
        EXPECT_EQ(events.result().outcome, JobOutcome::kAborted);
        EXPECT_EQ(stopped.Written().size(), before + events.progress.back().done)
            << "no byte after the stop";
    }
}

// At 9600 baud a window of 512 bytes takes more than half a second to cross the wire: each
// byte's echo time-out counts from the moment the byte can have left it, so a sound target
// passes with any window, while an echo that never comes still fails 500 ms after its byte
// left the wire.
TEST_F(InitializeJobTest, EchoWindowAtALowBaudRate) {
    const MonitorFileSpec big = MonitorFileSpec::VirtualTargetLike(kLoaderBytes, 1024);
    const std::string file = dir.Write("big.h86", big.HexText());
    const std::size_t firstData = 1 + kLoaderBytes + 5;  // the write of the first monitor bytes
    for (const std::uint32_t window : {1u, 512u, 1024u}) {
        for (const bool silent : {false, true}) {
            SCOPED_TRACE("window " + std::to_string(window) + (silent ? ", silent" : ""));
            VirtualClock clock;
            SimLine line(
                clock, big.HexText(),
                SimOptions(silent ? std::vector<std::string>{"--silent-from", "monitor-data@600"}
                                  : std::vector<std::string>{}));
            ASSERT_TRUE(line.ok()) << line.error();
            line.PaceAt(9600);
            JobSession session;
            JobRecorder events;
            RunJob({InitializeRequest{file, EchoWindow{window}}, {kPort, BaudRate{9600}}, {}},
                   session, line.Opener(), clock, {}, events);
            EXPECT_EQ(events.lines.back(), silent ? kNoResponse : "Monitor started!");
            if (silent && window == 1024) {
                // Byte 600 went out in the first write, behind 600 bytes of 1.04 ms each.
                ASSERT_GT(line.writes().size(), firstData);
                EXPECT_EQ(clock.NowMs(), line.writes()[firstData].atMs + 625 + 500);
            }
        }
    }
}

// What ends the job before anything is sent: the port, the monitor file, its header.
TEST_F(InitializeJobTest, PortAndMonitorFileBeforeTheExchange) {
    using Status = OpenedChannel::Status;
    MonitorFileSpec noSignature = spec;
    noSignature.signature = "MONITXR";
    MonitorFileSpec incompatible = spec;
    incompatible.specification = 171;
    MonitorFileSpec outOfRange = spec;
    outOfRange.monitorSegment = 300;
    const std::string missing = (dir.path() / "missing.h86").string();
    const std::string opened = kPort + " initialized.";
    struct Row {
        std::string name;
        Status port;
        std::string file;
        Lines log;
        FailureReason reason;
        std::size_t readerMessages = 0;
        bool stop = false;
    };
    // clang-format off
    const std::vector<Row> rows = {
        // The file is not even read: it would have been reported missing.
        {"port cannot be opened", Status::kCannotOpen, missing, {"Unable to open COM port!"},
         FailureReason::kPortUnavailable},
        {"port refuses its settings", Status::kCannotConfigure, missing,
         {"Error initializing COM port!"}, FailureReason::kPortSettings},
        {"port cannot be opened, stop asked", Status::kCannotOpen, missing,
         {"Unable to open COM port!"}, FailureReason::kAborted, 0, true},
        {"monitor file missing", Status::kOpened, missing, {opened}, FailureReason::kFileUnreadable,
         1},
        {"monitor file unreadable", Status::kOpened, dir.Write("bad.h86", ":0100000011ZZ\n"),
         {opened}, FailureReason::kFileUnreadable, 2},
        {"no signature", Status::kOpened, dir.Write("none.h86", noSignature.HexText()),
         {opened, "Invalid monitor file!\nNo specification found."},
         FailureReason::kNoMonitorHeader},
        {"specification 171", Status::kOpened, dir.Write("171.h86", incompatible.HexText()),
         {opened, "Invalid monitor file!\nIncompatible specification."},
         FailureReason::kIncompatibleMonitor},
        {"monitor segment 300", Status::kOpened,
         dir.Write("300.h86", HexTextAt(0, outOfRange.HeaderBytes()) + hex_text::End()),
         {opened, "Invalid monitor file!\nIncompatible specification."},
         FailureReason::kIncompatibleMonitor},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        VirtualClock clock;
        ScriptedLine line(clock, Target(spec, {}));
        const ChannelOpener opener = [&](const LineSettings&) {
            OpenedChannel channel = row.port == Status::kCannotOpen ? OpenedChannel{} : line.Open();
            channel.status = row.port;
            return channel;
        };
        JobSession session;
        const JobRecorder events =
            RunInitialize(line, session, opener, row.file, row.stop ? BeforeStart() : StopAt{});
        EXPECT_EQ(events.lines, row.log);
        EXPECT_EQ(events.result().reason, row.reason);
        // The text says why: the failing line, or the reader's last message about the file.
        std::string text = row.reason == FailureReason::kAborted ? kAbortedLine : row.log.back();
        ASSERT_EQ(events.readerMessages.size(), row.readerMessages);
        for (const std::string& message : events.readerMessages) {
            ASSERT_EQ(message.rfind(row.file + ": ", 0), 0u) << message;
            text = message.substr(row.file.size() + 2);
        }
        EXPECT_EQ(events.result().text, text);
        EXPECT_TRUE(line.writes().empty()) << "nothing may be sent to the target";
        EXPECT_EQ(session.channel != nullptr, row.port != Status::kCannotOpen)
            << "a port that refused its settings stays open";
        EXPECT_FALSE(session.header);
    }
}

// A driver that makes only its base clock's rates over a whole divider sets the nearest and
// reports it: within 1% of the rate asked the port serves, beyond that it refuses its settings
// and the failure names both rates.
TEST_F(InitializeJobTest, ARateTheDriverRoundsTooFarRefusesThePort) {
    const struct {
        std::uint32_t baseClock;
        std::string line;
        std::string detail;
    } rows[] = {
        {24000000, kPort + " initialized.", ""},  // 57554: 0.08% off
        {1000000, "Error initializing COM port!", kPort + ": baud rate 57600 asked, 58823 set"},
    };
    for (const auto& row : rows) {
        VirtualClock clock;
        ScriptedLine line(clock, Target(spec, {}));
        const ChannelOpener rounding = [&](const LineSettings& settings) {
            const std::uint32_t divider = static_cast<std::uint32_t>(
                std::lround(double(row.baseClock) / settings.baud.bitsPerSecond));
            const Status set = CheckBaudRateSet(settings.baud, row.baseClock / divider);
            OpenedChannel channel = line.Open();
            channel.status =
                set ? OpenedChannel::Status::kOpened : OpenedChannel::Status::kCannotConfigure;
            channel.reason = set ? "" : set.error().text;
            return channel;
        };
        JobSession session;
        const JobRecorder events = RunInitialize(line, session, rounding, monitorFile);
        EXPECT_EQ(events.lines.front(), row.line);
        EXPECT_EQ(events.result().detail, row.detail);
    }
}

// Loader stages by Level 0's length and the fill mark, monitors of one and of 65536 bytes,
// the short header: the lines, every byte sent (each loader byte in a write of its own) and the
// header the job leaves for Start Download.
TEST_F(InitializeJobTest, MonitorFilesAtTheEdges) {
    struct Row {
        std::string name;
        void (*edit)(MonitorFileSpec&);
        std::uint16_t eraseAllSectorCount;
    };
    // clang-format off
    const std::vector<Row> rows = {
        {"as shipped", [](MonitorFileSpec&) {}, 4},
        {"no Level 0", [](MonitorFileSpec& s) {s.level0Length = 0;}, 4},
        {"Level 0 beyond the loader's data", [](MonitorFileSpec& s) {s.level0Length = 43;}, 4},
        {"empty monitor segment: one byte", [](MonitorFileSpec& s) {s.monitor.clear();}, 4},
        {"full monitor segment: 65536 bytes, announced as 00 00",
         [](MonitorFileSpec& s) {s.monitor = hex_text::Pattern(65536, 9);}, 4},
        {"short header", [](MonitorFileSpec& s) {s.specification = 170;}, 0},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MonitorFileSpec edited = spec;
        row.edit(edited);
        VirtualClock clock;
        SimLine line(clock, edited.HexText(), SimOptions({}));
        ASSERT_TRUE(line.ok()) << line.error();
        JobSession session;
        const JobRecorder events =
            RunInitialize(line, session, dir.Write("edited.h86", edited.HexText()));
        EXPECT_EQ(events.lines, SoundLines(edited));
        EXPECT_TRUE(events.result().succeeded());

        // Level 0 by its length (erased bytes past the data), Level 1 up to the fill mark.
        Bytes loader = edited.loader;
        loader.resize(std::max<std::size_t>(loader.size(), edited.level0Length), 0xFF);
        const Bytes monitor = edited.monitor.empty() ? Bytes{0xFF} : edited.monitor;
        const Bytes expected =
            Bytes{edited.syncByte} + loader +
            Bytes{0x02, 0x10, static_cast<std::uint8_t>(monitor.size() & 0xFF),
                  static_cast<std::uint8_t>((monitor.size() >> 8) & 0xFF), 0x03} +
            monitor;
        EXPECT_TRUE(line.Written() == expected) << "the bytes sent";
        for (std::size_t i = 1; i <= loader.size(); ++i) {
            ASSERT_EQ(line.writes()[i].bytes.size(), 1u) << "loader byte " << i - 1;
        }
        ASSERT_TRUE(session.header);
        EXPECT_EQ(session.header->eraseAllSectorCount, row.eraseAllSectorCount);
        EXPECT_EQ(TargetNameOf(*session.header), "Test Target");
        ASSERT_FALSE(events.progress.empty());
        const auto n = static_cast<std::uint32_t>(monitor.size());
        EXPECT_EQ(events.progress.back(),
                  (JobRecorder::Progress{ProgressPhase::kMonitorUpload, n, n}));
    }
}

// Random bytes of random length in place of one answer, anywhere on the way, sometimes with
// the right answer after them: whatever the job makes of them, it ends with one of its own
// lines and exactly one done event.
TEST_F(InitializeJobTest, RandomAnswersAnywhere) {
    const std::regex endLine(
        "No response from target \\(=> Activate BSL-Mode => Reset\\) !"
        "|Wrong answer \\(Set 0x[0-9A-F]{2}::Act 0x[0-9A-F]{2}\\)!"
        "|RAM test failed at address: 0x[0-9A-F]{4}\\.[0-9A-F]{4}  Set: 0x[0-9A-F]{2} <> "
        "0x[0-9A-F]{2} :Act!"
        "|Monitor started!");
    std::uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return (state >> 16) & 0x7FFF;
    };
    const std::vector<std::pair<std::string, std::size_t>> points = {
        {"ident", 1},          {"loader-ack", 1},    {"ram-report", 8},     {"monitor-load@0", 1},
        {"monitor-load@3", 1}, {"monitor-data@", 1}, {"monitor-started", 1}};
    for (int round = 0; round < 70; ++round) {
        auto [at, need] = points[static_cast<std::size_t>(round) % points.size()];
        if (at == "monitor-data@") {
            at += std::to_string(next() % kMonitorBytes);
        }
        Bytes garbage(need + next() % 1200);
        for (std::uint8_t& b : garbage) {
            b = static_cast<std::uint8_t>(next());
        }
        const auto then = next() % 2 == 0 ? Answer::kSoundAnswer : Answer::kGoOn;
        SCOPED_TRACE("round " + std::to_string(round) + " at " + at);
        VirtualClock clock;
        ScriptedLine line(clock, Target(spec, Answer{at, garbage, then}));
        JobSession session;
        const JobRecorder events = RunInitialize(line, session, monitorFile);
        ASSERT_FALSE(events.lines.empty());
        EXPECT_TRUE(std::regex_match(events.lines.back(), endLine)) << events.lines.back();
        EXPECT_EQ(events.result().succeeded(), events.lines.back() == "Monitor started!");
    }
}

}  // namespace
