// Start Download on a virtual line, frame by frame: against the virtual target with each of its
// faults, and against a scripted monitor that gives answers no sound target gives. Time is
// virtual: the 15 s of a silent block cost nothing, and the time a job takes is exact.
#include "link/download_job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "image/monitor_file.h"
#include "link/crc.h"
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

const std::string kNoResponse = "No response from target (=> Activate BSL-Mode => Reset) !";
const std::string kSuccess = "Download finished successfully!";

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// An answer of the scripted monitor replaced: at the first `times` sends of the frame named
// `at` (erase@K, erase-done@K, block@K, finalize@K; a block sent again keeps its number),
// `parts` go out in its place, timed from the frame; then the sound answer follows 20 ms after
// them (`thenSound`), or the monitor falls silent for good (`thenSilent`).
struct Override {
    std::string at;
    std::vector<Part> parts;
    bool thenSound = false;
    bool thenSilent = false;
    int times = 1;
};

// A monitor that accepts every frame at once (flash type VF16), but for `overrides`.
ScriptedLine::Responder Monitor(std::vector<Override> overrides) {
    struct State {
        int erases = 0;
        int blocks = 0;
        int finalizes = 0;
        Bytes lastBlock;
        std::map<std::size_t, int> struck;  // sends each override struck
        bool silent = false;
    };
    return [overrides = std::move(overrides),
            s = std::make_shared<State>()](const Bytes& frame) -> std::vector<Part> {
        std::vector<Part> parts;
        const auto answer = [&](const std::string& at, std::uint32_t afterMs, Bytes sound) {
            for (std::size_t i = 0; i < overrides.size(); ++i) {
                const Override& o = overrides[i];
                if (s->silent || o.at != at || s->struck[i] >= o.times) {
                    continue;
                }
                ++s->struck[i];
                for (Part part : o.parts) {
                    part.afterMs += afterMs;
                    parts.push_back(std::move(part));
                }
                s->silent = o.thenSilent;
                if (!o.thenSound) {
                    return;
                }
                afterMs = parts.back().afterMs + 20;
                break;
            }
            if (!s->silent) {
                parts.push_back({afterMs, std::move(sound)});
            }
        };
        const std::string text(frame.begin(), frame.end());
        if (text[0] == 'P') {
            const std::string index = std::to_string(s->erases++);
            answer("erase@" + index, 0, Text("AVF16" + text.substr(2, 2)));
            answer("erase-done@" + index, 1, Text("A    " + text.substr(2, 2)));
        } else if (text[0] == 'V') {
            if (frame != s->lastBlock) {
                ++s->blocks;
                s->lastBlock = frame;
            }
            answer("block@" + std::to_string(s->blocks - 1), 0, Text("A" + text.substr(1, 6)));
        } else if (text[0] == 'F') {
            answer("finalize@" + std::to_string(s->finalizes++), 0, Text("A     0"));
        }
        return parts;
    };
}

// An image holding `bytes` at each 24-bit address.
std::shared_ptr<const HexImage> Image(const std::vector<std::pair<std::uint32_t, Bytes>>& parts) {
    auto image = std::make_shared<HexImage>();
    for (const auto& [address, bytes] : parts) {
        EXPECT_TRUE(image->Store(static_cast<int>(address >> 16), address & 0xFFFF, bytes.data(),
                                 bytes.size()));
    }
    return image;
}

DownloadRequest Request(std::shared_ptr<const HexImage> image, bool eraseAll = false) {
    return {std::move(image), {}, eraseAll};
}

// Where a stop request comes from: before the job, or once the frames sent read `frames` (one
// letter per frame).
struct StopAt {
    bool beforeStart = false;
    std::string frames = {};
};

// What a download did: its events, the frames it sent and the virtual time it took.
struct Download {
    JobRecorder events;
    std::vector<Bytes> frames;
    std::uint64_t ms = 0;

    std::string Letters() const {
        std::string letters;
        for (const Bytes& frame : frames) {
            letters += static_cast<char>(frame[0]);
        }
        return letters;
    }
};

Download RunDownload(VirtualLine& line, JobSession& session, DownloadRequest request,
                     const StopAt& stop = {}) {
    Download run;
    std::stop_source source;
    if (stop.beforeStart) {
        source.request_stop();
    }
    const std::size_t before = line.writes().size();
    const std::uint64_t start = line.clock().NowMs();
    line.afterWrite = [&] {
        const Bytes& frame = line.writes().back().bytes;
        run.frames.push_back(frame);
        if (!stop.frames.empty() && run.Letters() == stop.frames) {
            source.request_stop();
        }
    };
    const JobRequest job{std::move(request), {"COM7"}, {}};
    RunJob(job, session, line.Opener(), line.clock(), source.get_token(), run.events);
    line.afterWrite = nullptr;
    run.ms = line.clock().NowMs() - start;
    EXPECT_EQ(run.frames.size(), line.writes().size() - before);
    EXPECT_EQ(run.events.done.size(), 1u) << "exactly one done event";
    EXPECT_EQ(run.events.eventsAfterDone, 0);
    return run;
}

JobResult RunInitialize(VirtualLine& line, JobSession& session, const std::string& monitorFile) {
    JobRecorder events;
    RunJob({InitializeRequest{monitorFile}, {"COM7"}, {}}, session, line.Opener(), line.clock(), {},
           events);
    return events.result();
}

class DownloadJobTest : public ::testing::Test {
protected:
    DownloadJobTest() : spec(MonitorFileSpec::VirtualTargetLike(40, 64)) {
        spec.flashTypes = {"VF16", "F16"};
        monitorFile = dir.Write("target.h86", spec.HexText());
        header = LoadMonitorFile(monitorFile).file->header;
    }

    // The state a successful Initialize leaves, on a scripted monitor.
    JobSession ScriptedSession(VirtualLine& line) const {
        JobSession session;
        session.channel = line.Open().channel;
        session.port = "COM7";
        session.header = header;
        return session;
    }

    TempDir dir;
    MonitorFileSpec spec;
    std::string monitorFile;
    MonitorHeader header{};
    // Sector 0 takes blocks 0 to 2, sector 3 blocks 3 and 4.
    std::shared_ptr<const HexImage> image =
        Image({{0x000000, hex_text::Pattern(300, 7)}, {0x030000, hex_text::Pattern(200, 8)}});
};

// Frame by frame, an answer or a fault of the target, and a stop request: the log, the
// result, the frames sent and the virtual time the job takes. After a fault of the virtual
// target, Initialize and Start Download on the same line meet the target sound again and
// succeed: no fault leaves the line or the target unusable, and the host never sent the
// target anything wrong.
TEST_F(DownloadJobTest, EachFrameAgainstEachAnswer) {
    struct Row {
        std::string name;
        std::vector<std::string> sim = {};  // faults of the virtual target; or
        std::vector<Override> script = {};  // the scripted monitor's answers
        std::size_t keep = 6;               // lines of a sound run before `line`
        std::string line = {};              // the failure's line, if any
        FailureReason reason = FailureReason::kNone;
        std::string frames = "PPVVVVVF";
        std::optional<std::uint64_t> ms = {};
        StopAt stop = {};
        std::optional<std::size_t> failWrite = {};  // the host's first write that fails
    };
    const auto noAnswer = FailureReason::kNoAnswer;
    const auto lost = FailureReason::kLineLost;
    const std::string lostLine = "COM7: the line was lost (Input/output error)";
    const auto error = FailureReason::kTargetError;
    const auto crc = FailureReason::kWrongCrc;
    const auto flash = FailureReason::kUnknownFlashType;
    const auto aborted = FailureReason::kAborted;
    // clang-format off
    const std::vector<Row> rows = {
        {"sound", {"--blank-flash"}, {}, 6, "", {}, "PPVVVVVF", 0},
        {"sound, scripted", {}, {}, 6, "", {}, "PPVVVVVF", 2},
        // The first answer to an erase.
        {"CRC error at the erase", {"--crc-error-at", "erase@0"}, {}, 1, "Wrong CRC!", crc, "P"},
        {"error at the erase", {"--error-at", "erase@1:X"}, {}, 2, "Error X!", error, "PP"},
        {"error 7 at the erase", {}, {{"erase@0", {{0, Text("E7.....")}}}}, 1, "Error 7!", error,
         "P"},
        {"unknown flash type", {"--unknown-flash-type"}, {}, 1, "Wrong flash type ?\?\?\?!", flash,
         "P"},
        {"unknown flash type, scripted", {}, {{"erase@0", {{0, Text("OXYZW..")}}}}, 1,
         "Wrong flash type XYZW!", flash, "P"},
        {"flash type of NULs", {}, {{"erase@0", {{0, Bytes(7, 0x00)}}}}, 1, "Wrong flash type !",
         flash, "P"},
        {"flash type in Windows-1252", {}, {{"erase@1", {{0, Text("A\xE4xyz03")}}}}, 2,
         "Wrong flash type \xC3\xA4xyz!", flash, "PP"},
        {"a shorter flash type ends at its NUL", {},
         {{"erase@0", {{0, Text(std::string("OF16\0..", 7))}}}}},
        {"any letter but E and D accepts", {}, {{"erase@0", {{0, Text("zVF1600")}}}}},
        // The lost first answer: the completion is read in its place, and its blanks name no
        // flash type.
        {"first erase answer lost", {"--drop-answer", "erase@1"}, {}, 2, "Wrong flash type     !",
         flash, "PP"},
        {"first erase answer short", {}, {{"erase@0", {{0, Text("AVF")}}, false, true}}, 1,
         kNoResponse, noAnswer, "P", 1000},
        {"first erase answer late but in time", {"--late-answer", "erase@0:999"}, {}, 6, "", {},
         "PPVVVVVF", 999},
        {"first erase answer too late", {"--late-answer", "erase@0:1001"}, {}, 1, kNoResponse,
         noAnswer, "P", 1000},
        {"silent at the erase", {"--silent-from", "erase@0"}, {}, 1, kNoResponse, noAnswer, "P",
         1000},
        {"hang-up at the erase", {"--hangup-at", "erase@0"}, {}, 1, kNoResponse, noAnswer, "P", 0},
        {"bytes behind the first answer are the completion", {},
         {{"erase@0", {{0, Text("AVF1600EQ") + Bytes(20, '?')}}}}, 1, "Error Q!", error, "P"},
        // The erase's completion: a CRC error has no text of its own here.
        {"CRC error at the completion", {"--crc-error-at", "erase-done@0"}, {}, 1, "Error C!",
         error, "P"},
        {"error at the completion", {"--error-at", "erase-done@1:Q"}, {}, 2, "Error Q!", error,
         "PP"},
        {"error of NULs at the completion", {}, {{"erase-done@0", {{0, Text("E") + Bytes(6, 0)}}}},
         1, "Error !", error, "P"},
        {"not finished three times", {"--busy", "erase-done@0:3"}},
        {"not finished, then the completion split", {},
         {{"erase-done@0", {{0, Text("D......O..")}, {60, Text("....")}}}}},
        {"not finished twice and the completion together", {},
         {{"erase-done@0", {{0, Text("D......D......O......")}}}}},
        {"not finished, then an error, together", {},
         {{"erase-done@0", {{0, Text("D......EQ.....O......")}}}}, 1, "Error Q!", error, "P"},
        {"completion late", {"--late-answer", "erase-done@0:9999"}, {}, 6, "", {}, "PPVVVVVF",
         9999},
        {"completion split", {"--split-answer", "erase-done@1:9000"}, {}, 6, "", {}, "PPVVVVVF",
         9000},
        {"silent completion", {"--silent-from", "erase-done@1"}, {}, 2, kNoResponse, noAnswer, "PP",
         10000},
        {"lost completion", {"--drop-answer", "erase-done@0"}, {}, 1, kNoResponse, noAnswer, "P",
         10000},
        {"hang-up at the completion", {"--hangup-at", "erase-done@1"}, {}, 2, kNoResponse, noAnswer,
         "PP", 0},
        // A block's answer.
        {"CRC error at a block: never sent again", {"--crc-error-at", "block@2"}, {}, 3,
         "Wrong CRC!", crc, "PPVVV"},
        {"error at a block", {"--error-at", "block@3:P"}, {}, 4, "Error P!", error, "PPVVVV"},
        {"error x at a block", {}, {{"block@0", {{0, Text("Ex.....")}}}}, 3, "Error x!", error,
         "PPV"},
        {"a control byte cannot split the line", {}, {{"block@0", {{0, Text("E\n.....")}}}}, 3,
         "Error \\x0A!", error, "PPV"},
        {"not finished three times at a block", {"--busy", "block@1:3"}},
        {"not finished six times at a block, then at the finalize: nothing sent again", {},
         {{"block@1", {{0, Text("D......")}, {20, Text("D......")}, {40, Text("D......")}, {60, Text("D......")}, {80, Text("D......")}, {100, Text("D......")}}, true}, {"finalize@0", {{0, Text("D......")}}, true}}},
        {"not finished of NULs, then accepted", {},
         {{"block@0", {{0, Text("D") + Bytes(6, 0)}}, true}}},
        {"an answer of NULs accepts", {}, {{"block@1", {{0, Bytes(7, 0x00)}}}}},
        {"a byte too many is stale by the next block", {}, {{"block@1", {{0, Text("A000080E")}}}}},
        // One lost answer costs a 3 s wait and a send again, and the line settles for half a
        // second before the next frame and again before the finalize.
        {"one block answer lost", {"--drop-answer", "block@0:1"}, {}, 6, "", {}, "PPVVVVVVF", 4000},
        {"answered on the third send, two partial answers", {},
         {{"block@0", {{0, Text("O..")}}, false, false, 2}}, 6, "", {}, "PPVVVVVVVF"},
        {"block answer late but in time", {"--late-answer", "block@1:2999"}, {}, 6, "", {},
         "PPVVVVVF", 2999},
        {"block answer late: sent again, the late answer not taken for the next",
         {"--late-answer", "block@1:3001"}, {}, 6, "", {}, "PPVVVVVVF"},
        {"block answer split past the wait: the tail is not joined to the next answer",
         {"--split-answer", "block@2:3100"}, {}, 6, "", {}, "PPVVVVVVF"},
        {"a refusal cut by the time-out is not taken as accepted", {},
         {{"block@0", {{2900, Text("EC.")}, {3200, Text("....")}}}, {"block@0", {{0, Text("EC.....")}}}},
         3, "Wrong CRC!", crc, "PPVV"},
        {"late answers to a block sent again, then an error at the finalize", {},
         {{"block@1", {{3300, Text("A......")}}}, {"finalize@0", {{0, Text("EF.....")}}}}, 5,
         "Error F!", error, "PPVVVVVVF"},
        {"silent block: sent five times", {"--silent-from", "block@4"}, {}, 4, kNoResponse,
         noAnswer, "PPVVVV" + std::string(5, 'V'), 15000},
        // The block is sent again over a line that has gone.
        {"hang-up at a block", {"--hangup-at", "block@3"}, {}, 4,
         "COM7: the line was lost (hung up)", lost, "PPVVVV"},
        // A failed write ends the job at once, with the port and the reason.
        {"write fails at the first erase", {}, {}, 1, lostLine, lost, "", 0, {}, 0},
        {"write fails at a block", {}, {}, 3, lostLine, lost, "PPV", 2, {}, 3},
        {"write fails at the finalize", {}, {}, 5, lostLine, lost, "PPVVVVV", 2, {}, 7},
        // The finalize's answer.
        {"CRC error at the finalize", {"--crc-error-at", "finalize"}, {}, 5, "Wrong CRC!", crc},
        {"error at the finalize", {"--error-at", "finalize:Z"}, {}, 5, "Error Z!", error},
        {"error in Windows-1252", {}, {{"finalize@0", {{0, Text("E\x84.....")}}}}, 5,
         "Error \xE2\x80\x9E!", error},
        {"error 0xFF", {}, {{"finalize@0", {{0, Text("E\xFF     ")}}}}, 5, "Error \xC3\xBF!",
         error},
        {"not finished twice at the finalize", {"--busy", "finalize:2"}},
        {"finalize answer and more behind it", {},
         {{"finalize@0", {{0, Text("A     0") + Bytes(600, '3')}}}}},
        {"finalize answer short", {}, {{"finalize@0", {{0, Text("A  ")}}, false, true}}, 5,
         kNoResponse, noAnswer, "PPVVVVVF", 3002},
        {"silent at the finalize", {"--silent-from", "finalize"}, {}, 5, kNoResponse, noAnswer,
         "PPVVVVVF", 3000},
        {"lost finalize answer", {"--drop-answer", "finalize"}, {}, 5, kNoResponse, noAnswer,
         "PPVVVVVF", 3000},
        {"hang-up at the finalize", {"--hangup-at", "finalize"}, {}, 5, kNoResponse, noAnswer},
        // Stop requests take effect at the poll points only.
        {"stop before the job", {}, {}, 0, "", aborted, "", 0, {true}},
        {"stop in the erase: before the next sector", {}, {}, 1, "", aborted, "P", {},
         {false, "P"}},
        {"stop in programming: before the next block, no finalize", {}, {}, 3, "", aborted, "PPVV",
         {}, {false, "PPVV"}},
        {"stop at a silent block: before it is sent again", {}, {{"block@0", {}, false, true}}, 3,
         "", aborted, "PPV", 3002, {false, "PPV"}},
        {"stop while the target answers not finished for ever", {},
         {{"block@0", std::vector<Part>(20, {0, Text("D......")})}}, 3, "", aborted, "PPV", {},
         {false, "PPV"}},
        {"stop at the finalize: its answer is still taken", {}, {}, 6, "", {}, "PPVVVVVF", {},
         {false, "PPVVVVVF"}},
    };
    // clang-format on

    const Lines sound = {"Erasing sector 0!",       "Erasing sector 3!",
                         "Programming sector 0! *", "Programming sector 3! *",
                         "Finalizing download",     kSuccess};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        VirtualClock clock;
        std::unique_ptr<VirtualLine> line;
        JobSession session;
        SimLine* sim = nullptr;
        if (row.sim.empty()) {
            line = std::make_unique<ScriptedLine>(clock, Monitor(row.script));
            session = ScriptedSession(*line);
            // What an earlier job left unread on the line is stale.
            static_cast<ScriptedLine&>(*line).Say({0, Text("AXY12..A......")});
        } else {
            std::vector<std::string> options = row.sim;
            options.insert(options.end(),
                           {"--fault-session", "1", "--ram-test-ms", "0", "--erase-ms", "0"});
            auto simLine = std::make_unique<SimLine>(clock, spec.HexText(), options);
            ASSERT_TRUE(simLine->ok()) << simLine->error();
            sim = simLine.get();
            line = std::move(simLine);
            ASSERT_TRUE(RunInitialize(*line, session, monitorFile).succeeded());
        }
        if (row.failWrite) {
            line->FailWritesFrom(*row.failWrite, "Input/output error");
        }
        const Download run = RunDownload(*line, session, Request(image), row.stop);

        Lines expected(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(row.keep));
        if (!row.line.empty()) {
            expected.push_back(row.line);
        }
        if (row.reason == lost) {
            expected.push_back(kLineLostLine);
        }
        EXPECT_EQ(run.events.lines, expected);
        const JobResult result = run.events.result();
        EXPECT_EQ(result.reason, row.reason);
        EXPECT_EQ(result.outcome, row.reason == FailureReason::kNone      ? JobOutcome::kSucceeded
                                  : row.reason == FailureReason::kAborted ? JobOutcome::kAborted
                                                                          : JobOutcome::kFailed);
        EXPECT_EQ(result.text, row.reason == FailureReason::kNone      ? ""
                               : row.reason == FailureReason::kAborted ? kAbortedLine
                                                                       : row.line);
        EXPECT_EQ(run.Letters(), row.frames);
        if (row.ms) {
            EXPECT_EQ(run.ms, *row.ms) << "virtual ms";
        }
        if (sim != nullptr) {
            ASSERT_TRUE(RunInitialize(*line, session, monitorFile).succeeded());
            const Download again = RunDownload(*line, session, Request(image));
            EXPECT_EQ(again.events.lines, sound) << "the second download";
            EXPECT_TRUE(sim->target().record().faultsSeen.empty())
                << "the host sent the target something wrong: "
                << sim->target().record().faultsSeen.front().detail;
        }
    }
}

// CRC and frames byte for byte: the CRC against a bitwise one, the erase, block and finalize
// frames, the last block of a sector padded with erased bytes, a block sent again unchanged.
TEST_F(DownloadJobTest, FramesAreByteExact) {
    const auto bitwiseCrc = [](const Bytes& data) {
        std::uint16_t crc = 0;
        for (const std::uint8_t byte : data) {
            crc ^= byte;
            for (int bit = 0; bit < 8; ++bit) {
                crc = static_cast<std::uint16_t>((crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1);
            }
        }
        return crc;
    };
    EXPECT_EQ(CalcCrc(Text("123456789").data(), 9), 0x2189);
    for (const std::size_t n : {1u, 4u, 37u, 137u, 255u, 256u, 1000u}) {
        const Bytes data = hex_text::Pattern(n, static_cast<unsigned>(n));
        EXPECT_EQ(CalcCrc(data.data(), n), bitwiseCrc(data)) << n;
    }
    const auto withCrc = [&](std::string head, const Bytes& data = {}) {
        Bytes frame = Text(head) + data;
        char digits[5];
        std::snprintf(digits, sizeof digits, "%04X", bitwiseCrc(frame));
        return frame + Text(digits);
    };

    const Bytes data = hex_text::Pattern(300, 1);
    VirtualClock clock;
    ScriptedLine line(clock, Monitor({{"block@2", {{0, Text("O..")}}}}));
    JobSession session = ScriptedSession(line);
    const Download run = RunDownload(line, session, Request(Image({{0x020000, data}})));
    const Bytes last = Bytes(data.begin() + 256, data.end()) + Bytes(84, 0xFF);
    const std::vector<Bytes> expected = {
        withCrc("P202"),
        withCrc("V02000080", Bytes(data.begin(), data.begin() + 128)),
        withCrc("V02008080", Bytes(data.begin() + 128, data.begin() + 256)),
        withCrc("V02010080", last),
        withCrc("V02010080", last),
        Text("F     0"),
    };
    EXPECT_EQ(run.frames, expected);
    EXPECT_EQ(withCrc("P200"), Text("P2006121"));
    EXPECT_EQ(run.events.lines, (Lines{"Erasing sector 2!", "Programming sector 2! *",
                                       "Finalizing download", kSuccess}));
    EXPECT_EQ(run.events.debug, Lines{"WaitForResponse(): To few bytes, 4F, 2E, 2E"});
}

// Which sectors are erased and programmed, how many blocks and stars, the progress: by the
// image and the erase-all setting.
TEST_F(DownloadJobTest, ImagesAndErasedSectors) {
    struct Row {
        std::string name;
        std::vector<std::pair<std::uint32_t, Bytes>> parts;
        bool eraseAll;
        Lines log;
        std::string frames;
    };
    // "P", a "V" per block, "F" (appended piece by piece: g++ 12 at -O3 takes a literal + string
    // for an overlapping copy).
    const auto Frames = [](std::size_t blocks) {
        std::string frames(1, 'P');
        frames.append(blocks, 'V');
        frames += 'F';
        return frames;
    };
    const auto block = [&Frames](std::uint32_t sector, std::uint32_t lastOffset, std::size_t blocks,
                                 const std::string& stars) {
        return Row{"sector " + std::to_string(sector) + " up to " + std::to_string(lastOffset),
                   {{(sector << 16) + lastOffset, Bytes{0x77}}},
                   false,
                   {"Erasing sector " + std::to_string(sector) + "!",
                    "Programming sector " + std::to_string(sector) + "! " + stars,
                    "Finalizing download", kSuccess},
                   Frames(blocks)};
    };
    // clang-format off
    const std::vector<Row> rows = {
        {"erase-all adds the fixed sectors, programs only the used ones",
         {{0x000000, {1, 2}}, {0x0A0000, {3, 4}}}, true,
         {"Erasing sector 0!", "Erasing sector 1!", "Erasing sector 2!", "Erasing sector 3!", "Erasing sector 10!", "Programming sector 0! *", "Programming sector 10! *", "Finalizing download", kSuccess},
         "PPPPPVVF"},
        {"without erase-all only the used sectors", {{0x000000, {1, 2}}, {0x0A0000, {3, 4}}}, false,
         {"Erasing sector 0!", "Erasing sector 10!", "Programming sector 0! *", "Programming sector 10! *", "Finalizing download", kSuccess},
         "PPVVF"},
        {"a byte at offset 0 of sectors 0 and 1", {{0x000000, {0x12}}, {0x010000, {0x34}}}, false,
         {"Erasing sector 0!", "Erasing sector 1!", "Programming sector 0! *", "Programming sector 1! *", "Finalizing download", kSuccess},
         "PPVVF"},
        block(5, 255, 2, "*"),
        block(5, 256, 3, "*"),
        block(5, 1279, 10, "*"),
        block(5, 1280, 11, "**"),
        block(5, 0xFFFF, 512, std::string(52, '*')),
        {"no data: nothing sent", {}, false, {DownloadJob::kNoDataLine}, ""},
        {"no data, erase-all: the fixed sectors", {}, true,
         {"Erasing sector 0!", "Erasing sector 1!", "Erasing sector 2!", "Erasing sector 3!", "Finalizing download", kSuccess},
         "PPPPF"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        VirtualClock clock;
        ScriptedLine line(clock, Monitor({}));
        JobSession session = ScriptedSession(line);
        const Download run = RunDownload(line, session, Request(Image(row.parts), row.eraseAll));
        EXPECT_EQ(run.events.lines, row.log);
        EXPECT_EQ(run.Letters(), row.frames);
        EXPECT_EQ(run.events.result().reason,
                  row.log.back() == kSuccess ? FailureReason::kNone : FailureReason::kNoData);
        const auto total = static_cast<std::uint32_t>(
            std::count(row.frames.begin(), row.frames.end(), 'V') * DownloadJob::kBlockSize);
        if (total > 0) {
            EXPECT_EQ(run.events.progress.back(),
                      (JobRecorder::Progress{ProgressPhase::kProgramming, total, total}));
        } else {
            EXPECT_TRUE(run.events.progress.empty());
        }
    }
}

// Nothing to talk to, or no image: the job ends before a frame is sent.
TEST_F(DownloadJobTest, NoPortOrNoImage) {
    VirtualClock clock;
    ScriptedLine line(clock, Monitor({}));
    JobSession none;
    const Download noPort = RunDownload(line, none, Request(image));
    EXPECT_EQ(noPort.events.result().reason, FailureReason::kNoPort);
    EXPECT_TRUE(noPort.events.lines.empty());

    JobSession session = ScriptedSession(line);
    const std::string missing = (dir.path() / "missing.hex").string();
    const Download noFile = RunDownload(line, session, {nullptr, missing});
    EXPECT_EQ(noFile.events.result().reason, FailureReason::kFileUnreadable);
    EXPECT_EQ(noFile.events.result().text, "Datei nicht vorhanden!");
    EXPECT_EQ(noFile.events.readerMessages, Lines{missing + ": Datei nicht vorhanden!"});
    EXPECT_TRUE(noFile.events.lines.empty());

    // The file is read when the request carries no image.
    const std::string file = dir.Write("image.hex", HexTextAt(0x010000, {9}) + hex_text::End());
    const Download read = RunDownload(line, session, {nullptr, file});
    EXPECT_EQ(read.Letters(), "PVF");
    EXPECT_TRUE(read.events.result().succeeded());
    EXPECT_TRUE(noPort.frames.empty() && noFile.frames.empty());
}

// Random bytes of random length in place of one answer, anywhere, sometimes with the right
// answer after them: whatever the job makes of them, it ends with one of its own lines.
TEST_F(DownloadJobTest, RandomAnswersAnywhere) {
    const std::regex endLine(
        "No response from target \\(=> Activate BSL-Mode => Reset\\) !"
        "|Wrong flash type [\\s\\S]*!|Wrong CRC!|Error [\\s\\S]*!|Download finished successfully!");
    std::uint32_t state = 54321;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return (state >> 16) & 0x7FFF;
    };
    const std::vector<std::string> points = {"erase@0", "erase@1", "erase-done@0", "erase-done@1",
                                             "block@0", "block@2", "block@4",      "finalize@0"};
    for (int round = 0; round < 48; ++round) {
        const std::string& at = points[static_cast<std::size_t>(round) % points.size()];
        Bytes garbage(7 + next() % 1200);
        for (std::uint8_t& b : garbage) {
            b = static_cast<std::uint8_t>(next());
        }
        SCOPED_TRACE("round " + std::to_string(round) + " at " + at);
        VirtualClock clock;
        ScriptedLine line(clock, Monitor({{at, {{0, garbage}}, next() % 2 == 0}}));
        JobSession session = ScriptedSession(line);
        const Download run = RunDownload(line, session, Request(image));
        ASSERT_FALSE(run.events.lines.empty());
        EXPECT_TRUE(std::regex_match(run.events.lines.back(), endLine)) << run.events.lines.back();
        EXPECT_EQ(run.events.result().succeeded(), run.events.lines.back() == kSuccess);
    }
}

}  // namespace

// The done event's timing: the median of the blocks' answer delays (each from the block's last
// byte on the wire, 1410 us after its send at 1 Mbaud) and the bytes per second from the first
// block's send to the last block's answer; none when no block was answered.
TEST_F(DownloadJobTest, TheBlocksAnswerTimesReachTheDoneEvent) {
    struct Row {
        std::string name;
        std::vector<Override> script;
        std::optional<DownloadTiming> timing;
    };
    const auto block = [](int k, std::uint32_t ms, const char* answer = "A000000") {
        return Override{"block@" + std::to_string(k), {{ms, Text(answer)}}};
    };
    const std::vector<Row> rows = {
        // Delays 18590, 18590, 0 (the answer came before the wire time), 18590, 590 us over
        // 63 ms for 5 blocks.
        {"late answers",
         {block(0, 20), block(1, 20), block(2, 1), block(3, 20), block(4, 2)},
         DownloadTiming{18590, 640 * 1000000 / 63000}},
        // Two blocks answered after 3 and 5 ms, the third refused.
        {"refused at the third block",
         {block(0, 3), block(1, 5), block(2, 2, "EC00000")},
         DownloadTiming{3590, 256 * 1000000 / 8000}},
        {"no block answered", {{"block@0", {}, false, true}}, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        VirtualClock clock;
        ScriptedLine line(clock, Monitor(row.script));
        JobSession session = ScriptedSession(line);
        session.baud = BaudRate{1000000};
        const JobResult result = RunDownload(line, session, Request(image)).events.result();
        ASSERT_EQ(result.downloadTiming.has_value(), row.timing.has_value());
        if (row.timing) {
            EXPECT_EQ(result.downloadTiming->answerDelayUs, row.timing->answerDelayUs);
            EXPECT_EQ(result.downloadTiming->bytesPerSecond, row.timing->bytesPerSecond);
        }
    }
}
