// Answers no sound target gives: short, too long, NUL bytes, unexpected letters, bytes above
// 0x7F, random garbage, at each point where the jobs read an answer. Each job still ends with
// one defined log line and exactly one done message; under the sanitizers no read leaves the
// I/O buffer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/hex_text.h"
#include "tests/support/job_harness.h"
#include "tests/support/monitor_file.h"
#include "tests/support/pty_pair.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_files.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

const std::string kNoResponse = "No response from target (=> Activate BSL-Mode => Reset) !";
const Bytes kRamOk = {0xAA, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x03};

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string WrongAnswer(unsigned expected, unsigned received) {
    char text[64];
    std::snprintf(text, sizeof text, "Wrong answer (Set 0x%02X::Act 0x%02X)!", expected, received);
    return text;
}

// One answer of a sound target replaced by other bytes.
struct Override {
    std::string at;            // ident, loader-ack, ram-report, monitor-load@R, monitor-data@K,
                               // monitor-started, erase@K, erase-done@K, block@K, finalize@K
    Bytes bytes;               // sent in its place
    bool thenCorrect = false;  // the right answer follows a moment later
    bool thenSilent = false;   // the target answers nothing more
};

// A sound target on the test's side of the line: the handshake, the monitor exchange and the
// monitor's frames, with the one answer that `o` names replaced.
void ServeTarget(ScriptedPeer& p, const MonitorFileSpec& spec, const Override& o) {
    bool silent = false;
    auto answer = [&](const std::string& at, const Bytes& correct) {
        if (silent) {
            return;
        }
        if (at == o.at) {
            p.Reply(o.bytes);
            if (o.thenSilent) {
                silent = true;
                return;
            }
            if (!o.thenCorrect) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        p.Reply(correct);
    };
    if (p.Expect(1, 10000).empty()) {
        return;
    }
    answer("ident", {spec.identByte});
    if (p.Expect(spec.loader.size()).size() != spec.loader.size()) {
        return;
    }
    // The report follows the acknowledge at once, as from a loader with a quick RAM test.
    answer("loader-ack", {spec.loaderAck});
    answer("ram-report", kRamOk);
    for (int row = 0; row < 5; ++row) {
        const Bytes got = p.Expect(1);
        if (got.empty()) {
            return;
        }
        answer("monitor-load@" + std::to_string(row), got);
    }
    for (std::size_t k = 0; k < spec.monitor.size(); ++k) {
        const Bytes got = p.Expect(1);
        if (got.empty()) {
            return;
        }
        answer("monitor-data@" + std::to_string(k), got);
    }
    answer("monitor-started", {0x11});
    int erases = 0;
    int blocks = 0;
    int finalizes = 0;
    while (!p.Stopped()) {
        const Bytes letter = p.Expect(1, 60000);
        if (letter.empty()) {
            return;
        }
        if (letter[0] == 'P') {
            const Bytes body = p.Expect(7);
            if (body.size() != 7) {
                return;
            }
            const std::string sector(body.begin() + 1, body.begin() + 3);
            const std::string index = std::to_string(erases++);
            answer("erase@" + index, Text("A" + spec.flashTypes[0] + sector));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            answer("erase-done@" + index, Text("A    " + sector));
        } else if (letter[0] == 'V') {
            const Bytes body = p.Expect(140);
            if (body.size() != 140) {
                return;
            }
            answer("block@" + std::to_string(blocks++),
                   Text("A" + std::string(body.begin(), body.begin() + 6)));
        } else if (letter[0] == 'F') {
            if (p.Expect(6).size() != 6) {
                return;
            }
            answer("finalize@" + std::to_string(finalizes++), Text("A     0"));
        }
    }
}

// What a job ended with, and whether it ended sound: one done message, no line after it.
struct Outcome {
    JobResult initialize;
    JobResult download;  // only run when Initialize succeeded and a download was asked for
    bool downloaded = false;
    double seconds = 0;
};

class MalformedAnswerTest : public ::testing::Test {
protected:
    MalformedAnswerTest() {
        spec.identByte = 0x6B;
        spec.loaderAck = 0x3C;
        spec.flashTypes = {"VF16"};
        spec.level0Length = 8;
        spec.loader = hex_text::Pattern(40, 3);
        spec.monitor = hex_text::Pattern(64, 4);
        monitorFile = dir.Write("target.h86", spec.HexText());
        // Sector 0 takes blocks 0 to 2, sector 3 blocks 3 and 4.
        image = dir.Write("image.hex", HexTextAt(0x000000, hex_text::Pattern(300, 7)) +
                                           HexTextAt(0x030000, hex_text::Pattern(200, 8)) +
                                           hex_text::End());
    }

    Outcome Run(const Override& o, bool download) {
        PtyPair pty;
        JobHarness harness;
        Outcome outcome;
        ScriptedPeer peer(pty, [&](ScriptedPeer& p) { ServeTarget(p, spec, o); });
        const auto t0 = Clock::now();
        outcome.initialize = harness.Initialize(pty.slavePath(), monitorFile);
        if (download && outcome.initialize.succeeded == 1) {
            outcome.download = harness.Download(image);
            outcome.downloaded = true;
        }
        outcome.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        peer.Stop();
        peer.Join();
        return outcome;
    }

    // The job that met the malformed answer ended with `line` and one done message.
    static void ExpectEnd(const JobResult& result, const std::string& line, bool succeeded) {
        ASSERT_FALSE(result.log.empty());
        EXPECT_EQ(result.log.back(), line);
        EXPECT_EQ(result.doneMessages, 1);
        EXPECT_EQ(result.aborted, 0u);
        EXPECT_EQ(result.succeeded, succeeded ? 1 : 0);
    }

    TempDir dir;
    MessageRecorder boxes;
    MonitorFileSpec spec;
    std::string monitorFile;
    std::string image;
};

TEST_F(MalformedAnswerTest, HandshakeAndMonitorExchange) {
    const std::size_t n = spec.monitor.size();
    const auto lengthLow = static_cast<std::uint8_t>(n & 0xFF);
    struct Case {
        Override o;
        std::string line;
        bool succeeds = false;
    };
    const std::vector<Case> cases = {
        {{"ident", {0x00}}, WrongAnswer(0x6B, 0x00)},
        // Two buffers full behind the ident byte: what one read leaves is the next answer.
        {{"ident", Bytes{0x6B} + Bytes(2000, 0x77)}, WrongAnswer(0x3C, 0x77)},
        {{"ident", {0x6B, 'x', 0x00, 0xFF}}, "Monitor started!", true},
        // Only the acknowledge is taken: what follows it is read as the RAM test report.
        {{"loader-ack", {0x3C, 0x3C, 0x3C}}, WrongAnswer(0xAA, 0x3C)},
        {{"ram-report", Bytes(8, 0x00)}, WrongAnswer(0xAA, 0x00)},
        {{"ram-report", kRamOk + Bytes(1500, 0x5A)}, WrongAnswer(0x02, 0x5A)},
        {{"ram-report", {0xAA, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x03}},
         "RAM test failed at address: 0x0403.0201  Set: 0x06 <> 0x05 :Act!"},
        {{"ram-report", {0xAA, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}},
         "RAM test failed at address: 0xFFFF.FFFF  Set: 0xFF <> 0xFF :Act!"},
        {{"monitor-load@0", {0x02, 0x00, 0x00}}, "Monitor started!", true},
        {{"monitor-load@2", {static_cast<std::uint8_t>(~lengthLow)}},
         WrongAnswer(lengthLow, static_cast<std::uint8_t>(~lengthLow))},
        // An echo with a byte too many: the extra byte answers the next monitor byte.
        {{"monitor-data@10", {spec.monitor[10], static_cast<std::uint8_t>(~spec.monitor[11])}},
         WrongAnswer(spec.monitor[11], static_cast<std::uint8_t>(~spec.monitor[11]))},
        {{"monitor-started", {0x11, 0xEE, 0x00}}, "Monitor started!", true},
        {{"monitor-started", {0x00}}, WrongAnswer(0x11, 0x00)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.o.at + " " + c.line);
        const Outcome outcome = Run(c.o, false);
        ExpectEnd(outcome.initialize, c.line, c.succeeds);
    }
}

TEST_F(MalformedAnswerTest, MonitorFrames) {
    struct Case {
        Override o;
        std::string line;
        bool succeeds = false;
    };
    const std::string success = "Download finished successfully!";
    const std::vector<Case> cases = {
        // Short: three bytes, then nothing.
        {{"erase@0", Text("AVF"), false, true}, kNoResponse},
        {{"erase@0", Bytes(7, 0x00)}, "Wrong flash type !"},
        {{"erase@1", Text("A\xE4xyz03")}, "Wrong flash type \xC3\xA4xyz!"},
        // Any letter but E and D accepts.
        {{"erase@0", Text("zVF1600")}, success, true},
        // Longer than 7 bytes: the rest is taken as the completion.
        {{"erase@0", Text("AVF1600EQ") + Bytes(20, '?')}, "Error Q!"},
        {{"erase-done@0", Text("E") + Bytes(6, 0x00)}, "Error !"},
        {{"block@0", Text("D") + Bytes(6, 0x00), true}, success, true},
        {{"block@1", Bytes(7, 0x00)}, success, true},
        // A byte too many: stale by the time the next block goes out, so it is dropped.
        {{"block@1", Text("A000080E")}, success, true},
        {{"finalize@0", Text("E\xFF     ")}, "Error \xC3\xBF!"},
        {{"finalize@0", Text("A  "), false, true}, kNoResponse},
        {{"finalize@0", Text("A     0") + Bytes(600, 0x33)}, success, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.o.at + " " + c.line);
        const Outcome outcome = Run(c.o, true);
        ASSERT_EQ(outcome.initialize.succeeded, 1);
        ExpectEnd(outcome.download, c.line, c.succeeds);
    }
}

// Random bytes of random length in place of one answer, anywhere on the road; sometimes the
// right answer follows. Whatever the job makes of them, it ends with one of its own lines.
TEST_F(MalformedAnswerTest, RandomGarbageAnywhere) {
    const std::regex endLine(
        "No response from target \\(=> Activate BSL-Mode => Reset\\) !"
        "|Wrong answer \\(Set 0x[0-9A-F]{2}::Act 0x[0-9A-F]{2}\\)!"
        "|RAM test failed at address: 0x[0-9A-F]{4}\\.[0-9A-F]{4}  Set: 0x[0-9A-F]{2} <> "
        "0x[0-9A-F]{2} :Act!"
        // The target's bytes as they came, line breaks and all.
        "|Wrong flash type [\\s\\S]*!|Wrong CRC!|Error [\\s\\S]*!"
        "|Monitor started!|Download finished successfully!");
    std::uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return (state >> 16) & 0x7FFF;
    };
    const std::vector<std::pair<std::string, std::size_t>> points = {
        {"ident", 1},          {"loader-ack", 1},    {"ram-report", 8},      {"monitor-load@0", 1},
        {"monitor-load@3", 1}, {"monitor-data@", 1}, {"monitor-started", 1}, {"erase@0", 7},
        {"erase@1", 7},        {"erase-done@0", 7},  {"erase-done@1", 7},    {"block@0", 7},
        {"block@2", 7},        {"block@4", 7},       {"finalize@0", 7},
    };
    for (int round = 0; round < 60; ++round) {
        auto [at, need] = points[static_cast<std::size_t>(round) % points.size()];
        if (at == "monitor-data@") {
            at += std::to_string(next() % spec.monitor.size());
        }
        // Never shorter than the wait asks for, so the rounds stay quick; short answers have
        // cases of their own.
        Bytes garbage(need + next() % 1200);
        for (std::uint8_t& b : garbage) {
            b = static_cast<std::uint8_t>(next());
        }
        const bool thenCorrect = next() % 2 == 0;
        SCOPED_TRACE("round " + std::to_string(round) + " at " + at);
        const Outcome outcome = Run({at, garbage, thenCorrect}, true);
        for (const JobResult* job : {&outcome.initialize, &outcome.download}) {
            if (job == &outcome.download && !outcome.downloaded) {
                continue;
            }
            ASSERT_FALSE(job->log.empty());
            EXPECT_TRUE(std::regex_match(job->log.back(), endLine)) << job->log.back();
            EXPECT_EQ(job->doneMessages, 1);
            for (const std::string& line : job->log) {
                EXPECT_EQ(line.rfind("LATE: ", 0), std::string::npos) << line;
            }
        }
        // A 'D' in the garbage may cost a wait; nothing waits longer than its time-outs.
        EXPECT_LT(outcome.seconds, 30.0);
    }
}

}  // namespace
