#include "link/initialize_job.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "image/image_memory.h"
#include "tests/support/job_harness.h"
#include "tests/support/monitor_file.h"
#include "tests/support/pty_pair.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_files.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

const Bytes kRamOk = {0xAA, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x03};
const std::string kNoResponse = "No response from target (=> Activate BSL-Mode => Reset) !";
const std::string kSeparator(39, '-');

class InitializeJobTest : public ::testing::Test {
protected:
    std::string MonitorPath() { return dir.Write("target.h86", spec.HexText()); }

    JobResult Initialize() { return harness.Initialize(pty.slavePath(), MonitorPath()); }

    Lines SuccessLines() const {
        const int level1 = static_cast<int>(spec.loader.size()) - spec.level0Length;
        return {pty.slavePath() + " initialized.",
                kSeparator,
                "Send BOOTLOAD (Level 0) !    ==> " + std::to_string(spec.level0Length) + " Bytes",
                "Send BOOTLOAD (Level 1) !    ==> " + std::to_string(level1) + " Byte",
                "RAM test started.",
                "RAM test successful!",
                "Send Monitor  (Level 2) !   ==> " + std::to_string(spec.monitor.size()) + " Byte",
                "Monitor started!"};
    }

    // The target up to the RAM test report: ident byte, loader acknowledge and, when given,
    // the report in the same write, as from a loader whose RAM test takes no time.
    void Bootstrap(ScriptedPeer& p, const Bytes& report = {}) const {
        EXPECT_EQ(p.Expect(1), Bytes{spec.syncByte});
        p.Reply(Bytes{spec.identByte});
        EXPECT_EQ(p.Expect(spec.loader.size()), spec.loader);
        Bytes answer{spec.loaderAck};
        answer.insert(answer.end(), report.begin(), report.end());
        p.Reply(answer);
    }

    // The RAM test report, right behind the acknowledge.
    static void RamReport(ScriptedPeer& p, const Bytes& report) { p.Reply(report); }

    // The monitor exchange; echoes every byte, then reports that the monitor runs.
    void MonitorExchange(ScriptedPeer& p) const {
        const std::size_t n = spec.monitor.size();
        const Bytes opening = {0x02, 0x10, static_cast<std::uint8_t>(n & 0xFF),
                               static_cast<std::uint8_t>((n >> 8) & 0xFF), 0x03};
        for (std::uint8_t expected : opening) {
            const Bytes got = p.Expect(1);
            EXPECT_EQ(got, Bytes{expected});
            p.Reply(got);
        }
        for (std::size_t k = 0; k < n; ++k) {
            const Bytes got = p.Expect(1);
            ASSERT_EQ(got, Bytes{spec.monitor[k]}) << "monitor byte " << k;
            p.Reply(got);
        }
        p.Reply(Bytes{0x11});
    }

    PtyPair pty;
    TempDir dir;
    MessageRecorder boxes;
    MonitorFileSpec spec;
    JobHarness harness;
};

TEST_F(InitializeJobTest, SuccessfulJobPostsItsEightLinesAndKeepsTheHeader) {
    for (int i = 0; i < 40; ++i) {
        spec.monitor[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 37);
    }
    ScriptedPeer target(pty, [&](ScriptedPeer& p) {
        Bootstrap(p, kRamOk);
        MonitorExchange(p);
    });
    const JobResult result = Initialize();
    EXPECT_EQ(result.log, SuccessLines());
    EXPECT_EQ(result.doneMessages, 1);
    EXPECT_EQ(result.aborted, 0u);
    EXPECT_EQ(result.succeeded, 1);

    Bytes expected{spec.syncByte};
    expected.insert(expected.end(), spec.loader.begin(), spec.loader.end());
    expected.insert(expected.end(), {0x02, 0x10, 40, 0x00, 0x03});
    expected.insert(expected.end(), spec.monitor.begin(), spec.monitor.end());
    EXPECT_EQ(target.AllReceived(), expected);

    EXPECT_EQ(harness.worker->m_header.eraseAllSectorCount, 4);
    EXPECT_EQ(TargetNameOf(harness.worker->m_header), "Test Target");
    ASSERT_FALSE(result.progress.empty());
    EXPECT_EQ(ProgressPhaseOf(result.progress.back().wParam), ProgressPhase::kMonitorUpload);
    EXPECT_EQ(ProgressDoneOf(result.progress.back().wParam), 40u);
    EXPECT_EQ(result.progress.back().lParam, 40);
    EXPECT_TRUE(boxes.messages().empty());
}

TEST_F(InitializeJobTest, PortThatCannotBeOpenedEndsBeforeTheMonitorFileIsRead) {
    g_imageMemory.Clear();
    const std::uint8_t marker = 0x42;
    ASSERT_TRUE(g_imageMemory.Store(200, 0, &marker, 1));
    const JobResult result = harness.Initialize("/dev/quillon-no-such-port", MonitorPath());
    EXPECT_EQ(result.log, Lines{"Unable to open COM port!"});
    EXPECT_EQ(result.doneMessages, 1);
    EXPECT_EQ(result.aborted, 0u);
    EXPECT_EQ(result.succeeded, 0);
    EXPECT_EQ(g_imageMemory.Byte(200, 0), 0x42) << "the monitor file must not have been loaded";
}

TEST_F(InitializeJobTest, MonitorFilesThatCannotServe) {
    struct Case {
        const char* what;
        std::string file;
        Lines log;
        std::size_t boxes;
    };
    MonitorFileSpec incompatible = spec;
    incompatible.specification = 171;
    MonitorFileSpec outOfRange = spec;
    outOfRange.monitorSegment = 300;
    MonitorFileSpec noSignature = spec;
    noSignature.signature = "MONITXR";
    const std::string port = pty.slavePath() + " initialized.";
    const std::vector<Case> cases = {
        {"no signature",
         noSignature.HexText(),
         {port, "Invalid monitor file!\nNo specification found."},
         0},
        {"specification 171",
         incompatible.HexText(),
         {port, "Invalid monitor file!\nIncompatible specification."},
         0},
        {"segment 300",
         HexTextAt(0, outOfRange.HeaderBytes()) + ":00000001FF\n",
         {port, "Invalid monitor file!\nIncompatible specification."},
         0},
        {"unreadable", ":0100000011ZZ\n", {port}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        boxes.clear();
        const JobResult result = harness.Initialize(pty.slavePath(), dir.Write("m.h86", c.file));
        EXPECT_EQ(result.log, c.log);
        EXPECT_EQ(result.doneMessages, 1);
        EXPECT_EQ(result.succeeded, 0);
        EXPECT_EQ(result.aborted, 0u);
        EXPECT_EQ(boxes.messages().size(), c.boxes);
    }
    EXPECT_TRUE(pty.ReceiveAvailable().empty()) << "nothing may be sent to the target";
}

TEST_F(InitializeJobTest, HandshakeAndLoaderAnswers) {
    {
        SCOPED_TRACE("silence");
        const JobResult result = Initialize();
        EXPECT_EQ(result.log, (Lines{pty.slavePath() + " initialized.", kSeparator, kNoResponse}));
        EXPECT_EQ(result.succeeded, 0);
    }
    {
        SCOPED_TRACE("wrong ident");
        ScriptedPeer target(pty, [&](ScriptedPeer& p) {
            p.Expect(1);
            p.Reply(Bytes{0x3F});
        });
        const JobResult result = Initialize();
        EXPECT_EQ(result.log.back(), "Wrong answer (Set 0xC5::Act 0x3F)!");
        EXPECT_EQ(result.log.size(), 3u);
        EXPECT_EQ(result.doneMessages, 1);
    }
    {
        SCOPED_TRACE("wrong loader acknowledge");
        ScriptedPeer target(pty, [&](ScriptedPeer& p) {
            p.Expect(1);
            p.Reply(Bytes{spec.identByte, 0x99, 0x98});  // only the first byte counts
            p.Expect(spec.loader.size());
            p.Reply(Bytes{0x7E});
        });
        const JobResult result = Initialize();
        EXPECT_EQ(result.log.back(), "Wrong answer (Set 0x01::Act 0x7E)!");
        EXPECT_EQ(result.log.size(), 5u);
    }
    {
        SCOPED_TRACE("no loader acknowledge");
        ScriptedPeer target(pty, [&](ScriptedPeer& p) {
            p.Expect(1);
            p.Reply(Bytes{spec.identByte});
        });
        const JobResult result = Initialize();
        EXPECT_EQ(result.log.back(), kNoResponse);
        EXPECT_EQ(result.succeeded, 0);
    }
}

TEST_F(InitializeJobTest, LoaderStagesFollowLevel0LengthAndFillMark) {
    {
        SCOPED_TRACE("no Level 0");
        spec.level0Length = 0;
        ScriptedPeer target(pty, [&](ScriptedPeer& p) {
            Bootstrap(p);
            RamReport(p, Bytes{0xAA, 1, 2, 3, 4, 5, 6, 7});
        });
        const JobResult result = Initialize();
        EXPECT_EQ(result.log[2], "Send BOOTLOAD (Level 0) !    ==> 0 Bytes");
        EXPECT_EQ(result.log[3], "Send BOOTLOAD (Level 1) !    ==> 10 Byte");
    }
    {
        SCOPED_TRACE("Level 0 longer than the loader");
        spec.level0Length = 13;
        ScriptedPeer target(pty, [&](ScriptedPeer& p) {
            p.Expect(1);
            p.Reply(Bytes{spec.identByte});
            Bytes level0 = spec.loader;
            level0.insert(level0.end(), {0xFF, 0xFF, 0xFF});  // erased bytes beyond the data
            EXPECT_EQ(p.Expect(13), level0);
            p.Reply(Bytes{spec.loaderAck});
        });
        const JobResult result = Initialize();
        EXPECT_EQ(result.log[2], "Send BOOTLOAD (Level 0) !    ==> 13 Bytes");
        EXPECT_EQ(result.log[3], "Send BOOTLOAD (Level 1) !    ==> -3 Byte");
        EXPECT_EQ(target.AllReceived().size(), 14u) << "Level 1 sends nothing";
    }
}

TEST_F(InitializeJobTest, RamTestReports) {
    struct Case {
        Bytes report;
        std::string line;
    };
    const std::vector<Case> cases = {
        {{0x55, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x03}, "Wrong answer (Set 0xAA::Act 0x55)!"},
        {{0xAA, 0x78, 0x56, 0x34, 0x12, 0xEF, 0x5A, 0x01},
         "RAM test failed at address: 0x1234.5678  Set: 0x5A <> 0xEF :Act!"},
        {{0xAA, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02},
         "RAM test failed at address: 0xFFFF.FFFF  Set: 0xFF <> 0xFF :Act!"},
        {{0xAA, 0xFF, 0xFF}, kNoResponse},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ScriptedPeer target(pty, [&](ScriptedPeer& p) {
            Bootstrap(p);
            RamReport(p, c.report);
        });
        const JobResult result = Initialize();
        ASSERT_EQ(result.log.size(), 6u);
        EXPECT_EQ(result.log[4], "RAM test started.");
        EXPECT_EQ(result.log[5], c.line);
        EXPECT_EQ(result.doneMessages, 1);
        EXPECT_EQ(result.succeeded, 0);
        EXPECT_EQ(result.aborted, 0u);
    }
}

TEST_F(InitializeJobTest, WrongAnswerInEachRowOfTheMonitorExchange) {
    // Row, the byte the target answers instead of the right one, the expected line.
    struct Case {
        int row;  // 0..4 opening bytes, 5 a data byte (k = 3), 6 the start report
        std::uint8_t answer;
        std::string line;
    };
    spec.monitor = Bytes{0x21, 0x22, 0x23, 0x24, 0x25};
    const std::vector<Case> cases = {
        {0, 0x12, "Wrong answer (Set 0x02::Act 0x12)!"},
        {1, 0x00, "Wrong answer (Set 0x10::Act 0x00)!"},
        {2, 0x06, "Wrong answer (Set 0x05::Act 0x06)!"},
        {3, 0x01, "Wrong answer (Set 0x00::Act 0x01)!"},
        {4, 0x13, "Wrong answer (Set 0x03::Act 0x13)!"},
        {5, 0x42, "Wrong answer (Set 0x24::Act 0x42)!"},
        {6, 0x12, "Wrong answer (Set 0x11::Act 0x12)!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ScriptedPeer target(pty, [&](ScriptedPeer& p) {
            Bootstrap(p);
            RamReport(p, kRamOk);
            for (int row = 0; row < 5; ++row) {
                const Bytes got = p.Expect(1);
                p.Reply(row == c.row ? Bytes{c.answer} : got);
                if (row == c.row) {
                    return;
                }
            }
            for (int k = 0; k < 5; ++k) {
                const Bytes got = p.Expect(1);
                p.Reply(c.row == 5 && k == 3 ? Bytes{c.answer} : got);
                if (c.row == 5 && k == 3) {
                    return;
                }
            }
            p.Reply(Bytes{c.answer});
        });
        const JobResult result = Initialize();
        EXPECT_EQ(result.log.back(), c.line);
        EXPECT_EQ(result.log.size(), 8u);
        EXPECT_EQ(result.doneMessages, 1);
        EXPECT_EQ(result.succeeded, 0);
        if (c.row == 5) {
            EXPECT_EQ(target.AllReceived().size(), 1 + 10 + 5 + 4u)
                << "nothing sent after the fault";
        }
    }
}

TEST_F(InitializeJobTest, MonitorLengthsAtTheEdges) {
    {
        SCOPED_TRACE("empty monitor segment: one byte");
        spec.monitor.clear();
        ScriptedPeer target(pty, [&](ScriptedPeer& p) {
            Bootstrap(p);
            RamReport(p, kRamOk);
            for (std::uint8_t expected : Bytes{0x02, 0x10, 0x01, 0x00, 0x03, 0xFF}) {
                const Bytes got = p.Expect(1);
                EXPECT_EQ(got, Bytes{expected});
                p.Reply(got);
            }
            p.Reply(Bytes{0x11});
        });
        const JobResult result = Initialize();
        EXPECT_EQ(result.log[6], "Send Monitor  (Level 2) !   ==> 1 Byte");
        EXPECT_EQ(result.succeeded, 1);
    }
    {
        SCOPED_TRACE("a full segment: 65536 bytes announced as 00 00");
        spec.monitor = Bytes(65536);
        for (std::size_t i = 0; i < spec.monitor.size(); ++i) {
            spec.monitor[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
        }
        ScriptedPeer target(pty, [&](ScriptedPeer& p) {
            Bootstrap(p);
            RamReport(p, kRamOk);
            MonitorExchange(p);
        });
        const JobResult result = Initialize();
        EXPECT_EQ(result.log[6], "Send Monitor  (Level 2) !   ==> 65536 Byte");
        EXPECT_EQ(result.log.back(), "Monitor started!");
        EXPECT_EQ(result.succeeded, 1);
    }
}

TEST_F(InitializeJobTest, ShortHeaderLeavesNoEraseAllSectorCount) {
    spec.specification = 170;
    ScriptedPeer target(pty, [&](ScriptedPeer& p) {
        Bootstrap(p);
        RamReport(p, kRamOk);
        MonitorExchange(p);
    });
    const JobResult result = Initialize();
    EXPECT_EQ(result.succeeded, 1);
    EXPECT_EQ(harness.worker->m_header.eraseAllSectorCount, 0);
}

TEST_F(InitializeJobTest, AbortTakesEffectAtThePollPoints) {
    {
        SCOPED_TRACE("before the worker picked the job up");
        const JobResult result =
            harness.InitializeAbortedBeforeStart(pty.slavePath(), MonitorPath());
        EXPECT_EQ(result.log, Lines{pty.slavePath() + " initialized."});
        EXPECT_EQ(result.aborted, 1u);
        EXPECT_EQ(result.succeeded, 0);
        EXPECT_EQ(result.doneMessages, 1);
        EXPECT_TRUE(pty.ReceiveAvailable().empty()) << "nothing may be sent after an abort";
    }
    {
        SCOPED_TRACE("during the RAM test wait: the report's line, then aborted");
        ScriptedPeer target(pty, [&](ScriptedPeer& p) {
            Bootstrap(p);
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            g_bStopJob = 1;
            p.Reply(kRamOk);
        });
        const JobResult result = Initialize();
        EXPECT_EQ(result.log.back(), "RAM test successful!");
        EXPECT_EQ(result.aborted, 1u);
        EXPECT_EQ(result.succeeded, 0);
        EXPECT_EQ(result.doneMessages, 1);
    }
    {
        SCOPED_TRACE("during the monitor transfer: before the next data byte");
        ScriptedPeer target(pty, [&](ScriptedPeer& p) {
            Bootstrap(p);
            RamReport(p, kRamOk);
            for (int i = 0; i < 5 + 3; ++i) {
                const Bytes got = p.Expect(1);
                if (i == 5 + 2) {
                    g_bStopJob = 1;
                }
                p.Reply(got);
            }
        });
        const JobResult result = Initialize();
        EXPECT_EQ(result.aborted, 1u);
        EXPECT_EQ(result.succeeded, 0);
        EXPECT_EQ(target.AllReceived().size(), 1 + 10 + 5 + 3u);
    }
    {
        SCOPED_TRACE("while the start report is awaited and then arrives: started");
        ScriptedPeer target(pty, [&](ScriptedPeer& p) {
            Bootstrap(p);
            RamReport(p, kRamOk);
            for (std::size_t i = 0; i < 5 + spec.monitor.size(); ++i) {
                p.Reply(p.Expect(1));
            }
            g_bStopJob = 1;
            p.Reply(Bytes{0x11});
        });
        const JobResult result = Initialize();
        EXPECT_EQ(result.aborted, 0u);
        EXPECT_EQ(result.succeeded, 1);
    }
    {
        SCOPED_TRACE("while row e waits and then fails: failed, not aborted");
        ScriptedPeer target(pty, [&](ScriptedPeer& p) {
            Bootstrap(p);
            RamReport(p, kRamOk);
            for (int i = 0; i < 4; ++i) {
                p.Reply(p.Expect(1));
            }
            p.Expect(1);
            g_bStopJob = 1;
            p.Reply(Bytes{0x00});
        });
        const JobResult result = Initialize();
        EXPECT_EQ(result.log.back(), "Wrong answer (Set 0x03::Act 0x00)!");
        EXPECT_EQ(result.aborted, 0u);
        EXPECT_EQ(result.succeeded, 0);
    }
}

}  // namespace
