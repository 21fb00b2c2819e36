// Every fault the virtual target can play, at every stage where it can strike, and a hang-up of
// the line at each stage: the job ends with its exact log and exactly one done message, within
// its time-outs, without spinning, and the port serves a second run once the fault is gone.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_device.h"
#include "tests/support/hex_text.h"
#include "tests/support/job_harness.h"
#include "tests/support/monitor_file.h"
#include "tests/support/test_files.h"
#include "tests/support/virtual_target.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

const std::string kNoResponse = "No response from target (=> Activate BSL-Mode => Reset) !";

// Beyond the time-outs a job must sit through: start-up, the file loads and the transfers of
// the small files used here, with room for a sanitizer build on a loaded machine.
constexpr double kSlackMs = 4000;
// The CPU a job may use for its real work (loading files, the echo exchange) on top of the
// share of its wall time that still proves it waited in the kernel.
constexpr double kWorkCpuMs = 400;
constexpr double kWaitCpuShare = 0.2;

double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// One cell of the matrix: the fault, where it strikes and what the operator must read.
struct Scenario {
    std::vector<std::string> options;
    std::string stage;  // where it strikes: idle (before the job), ident, ..., block@3, finalize
    std::string line;   // the last log line
    bool succeeds = false;
    double waitMs = 0;  // the time-outs the job has to sit through
    bool hangup = false;

    std::string Name() const {
        std::string name;
        for (const std::string& option : options) {
            name += (name.empty() ? "" : " ") + option;
        }
        return name;
    }
};

bool IsDownloadStage(const std::string& stage) {
    for (const char* prefix : {"erase", "block", "finalize"}) {
        if (stage.rfind(prefix, 0) == 0) {
            return true;
        }
    }
    return false;
}

int StageIndex(const std::string& stage) {
    const std::size_t at = stage.find('@');
    return at == std::string::npos ? 0 : std::stoi(stage.substr(at + 1));
}

class FaultMatrixTest : public ::testing::Test {
protected:
    FaultMatrixTest() {
        spec = MonitorFileSpec::VirtualTargetLike(120, kMonitorBytes);
        monitorFile = dir.Write("target.h86", spec.HexText());
        // Sector 0 takes blocks 0 to 2, sector 3 blocks 3 and 4.
        image = dir.Write("image.hex", HexTextAt(0x000000, hex_text::Pattern(300, 7)) +
                                           HexTextAt(0x030000, hex_text::Pattern(200, 8)) +
                                           hex_text::End());
        link = (dir.path() / "port").string();
    }

    Lines InitializeLines() const {
        return {link + " initialized.",
                std::string(39, '-'),
                "Send BOOTLOAD (Level 0) !    ==> 32 Bytes",
                "Send BOOTLOAD (Level 1) !    ==> 88 Byte",
                "RAM test started.",
                "RAM test successful!",
                "Send Monitor  (Level 2) !   ==> " + std::to_string(kMonitorBytes) + " Byte",
                "Monitor started!"};
    }

    static Lines DownloadLines() {
        return {"Erasing sector 0!",       "Erasing sector 3!",
                "Programming sector 0! *", "Programming sector 3! *",
                "Finalizing download",     "Download finished successfully!"};
    }

    // The log of a job that fails at `stage`: the lines of a successful job up to the step
    // that met the fault, then the fault's line.
    Lines ExpectedLog(const Scenario& s) const {
        Lines lines = IsDownloadStage(s.stage) ? DownloadLines() : InitializeLines();
        if (s.succeeds) {
            return lines;
        }
        std::size_t keep = 0;
        const std::string& stage = s.stage;
        const int index = StageIndex(stage);
        if (stage == "ident") {
            keep = 2;
        } else if (stage == "loader-ack") {
            keep = 4;
        } else if (stage == "ram-report") {
            keep = 5;
        } else if (stage.rfind("monitor", 0) == 0) {
            keep = 7;
        } else if (stage.rfind("erase", 0) == 0) {
            keep = static_cast<std::size_t>(index) + 1;
        } else if (stage.rfind("block", 0) == 0) {
            keep = index < 3 ? 3 : 4;
        } else {
            keep = 5;
        }
        lines.resize(keep);
        lines.push_back(s.line);
        return lines;
    }

    // The scenario on a fresh virtual target whose faults strike its first session only; the
    // second run over the same port name then meets a sound target.
    void Run(const Scenario& s) {
        SCOPED_TRACE(s.Name());
        std::vector<std::string> options = s.options;
        options.insert(options.end(), {"--fault-session", "1"});
        VirtualTarget target(monitorFile, options, link);
        ASSERT_TRUE(target.running());
        if (s.stage == "idle") {
            // Noise that waits on the line before the job: let it arrive first.
            ASSERT_TRUE(target.WaitForReport("while waiting for the sync byte", 5000));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        {
            JobHarness harness;
            const bool download = IsDownloadStage(s.stage);
            if (download) {
                ASSERT_EQ(harness.Initialize(link, monitorFile).succeeded, 1);
            }
            const double cpu0 = ProcessCpuMs();
            const auto t0 = Clock::now();
            const JobResult result =
                download ? harness.Download(image) : harness.Initialize(link, monitorFile);
            const double wallMs =
                std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            const double cpuMs = ProcessCpuMs() - cpu0;

            EXPECT_EQ(result.log, ExpectedLog(s));
            EXPECT_EQ(result.doneMessages, 1);
            EXPECT_EQ(result.aborted, 0u);
            EXPECT_EQ(result.succeeded, s.succeeds ? 1 : 0);
            // The job sat through its time-outs, no longer: nothing hangs, nothing gives up
            // early. Waits block in the kernel, so the CPU stays far below the wall time.
            EXPECT_LT(wallMs, s.waitMs + kSlackMs);
            EXPECT_GE(wallMs, s.waitMs * 0.95);
            EXPECT_LT(cpuMs, kWaitCpuShare * wallMs + kWorkCpuMs)
                << "CPU " << cpuMs << " ms over " << wallMs << " ms";

            if (s.hangup) {
                ASSERT_TRUE(target.WaitForNewLine(5000)) << "the target opened no new line";
            }
            // The same port name, the fault gone: the whole road succeeds.
            const JobResult again = harness.Initialize(link, monitorFile);
            EXPECT_EQ(again.log, InitializeLines());
            EXPECT_EQ(again.succeeded, 1);
            const JobResult download2 = harness.Download(image);
            EXPECT_EQ(download2.log, DownloadLines());
            EXPECT_EQ(download2.succeeded, 1);
            EXPECT_EQ(again.doneMessages + download2.doneMessages, 2);
        }
        // The worker has closed the port: anyone may open it again.
        SerialDevice probe;
        EXPECT_TRUE(probe.Open(link)) << "the port stayed locked";
        probe.Close();
        // Whatever the fault, the host itself never sent the target anything wrong.
        const std::string report = target.Report();
        EXPECT_NE(report.find("\"faultsSeen\": []"), std::string::npos) << report;
        EXPECT_TRUE(boxes.messages().empty());
    }

    void RunAll(const std::vector<Scenario>& scenarios) {
        for (const Scenario& s : scenarios) {
            Run(s);
        }
    }

    static constexpr std::size_t kMonitorBytes = 200;

    TempDir dir;
    MessageRecorder boxes;
    MonitorFileSpec spec;
    std::string monitorFile;
    std::string image;
    std::string link;
};

std::string WrongAnswer(unsigned expected, unsigned received) {
    char text[64];
    std::snprintf(text, sizeof text, "Wrong answer (Set 0x%02X::Act 0x%02X)!", expected, received);
    return text;
}

// Silence and a hang-up at one stage.
std::vector<Scenario> SilenceAndHangup(const std::string& stage, double timeoutMs) {
    return {{{"--silent-from", stage}, stage, kNoResponse, false, timeoutMs},
            {{"--hangup-at", stage}, stage, kNoResponse, false, 0, true}};
}

TEST_F(FaultMatrixTest, HandshakeAndLoader) {
    std::vector<Scenario> scenarios = {
        {{"--wrong-ident", "0x12"}, "ident", WrongAnswer(0x6B, 0x12)},
        // Bytes ahead of the ident byte: the first one read is compared.
        {{"--noise", "3:before-ident"}, "ident", WrongAnswer(0x6B, 0x3F)},
        // Bytes that waited on the line before the job, more than a buffer full, are dropped.
        {{"--noise", "3000:idle"}, "idle", "", true},
        {{"--wrong-loader-ack", "0x99"}, "loader-ack", WrongAnswer(0x3C, 0x99)},
    };
    for (const char* stage : {"ident", "loader-ack"}) {
        for (const Scenario& s : SilenceAndHangup(stage, 1000)) {
            scenarios.push_back(s);
        }
    }
    RunAll(scenarios);
}

TEST_F(FaultMatrixTest, RamTestReport) {
    RunAll({
        {{"--ram-marker", "0x55"}, "ram-report", WrongAnswer(0xAA, 0x55)},
        {{"--ram-fail", "0x00ABCDEF:0x0F:0xF0"},
         "ram-report",
         "RAM test failed at address: 0x00AB.CDEF  Set: 0x0F <> 0xF0 :Act!"},
        {{"--hangup-at", "ram-report"}, "ram-report", kNoResponse, false, 0, true},
    });
}

// The 10 s the loader's RAM test may take.
TEST_F(FaultMatrixTest, SilentRamTest) {
    Run({{"--silent-from", "ram-report"}, "ram-report", kNoResponse, false, 10000});
}

TEST_F(FaultMatrixTest, EachRowOfTheMonitorExchange) {
    std::vector<Scenario> scenarios;
    // 02, 10, length low, length high, 03: one second each.
    for (int row = 0; row < 5; ++row) {
        for (const Scenario& s : SilenceAndHangup("monitor-load@" + std::to_string(row), 1000)) {
            scenarios.push_back(s);
        }
    }
    // The data bytes: the first, one inside, the last; half a second each.
    for (const std::size_t k : {std::size_t{0}, std::size_t{77}, kMonitorBytes - 1}) {
        const std::uint8_t byte = spec.monitor[k];
        scenarios.push_back({{"--wrong-echo", std::to_string(k)},
                             "monitor-data@" + std::to_string(k),
                             WrongAnswer(byte, static_cast<std::uint8_t>(~byte))});
        for (const Scenario& s : SilenceAndHangup("monitor-data@" + std::to_string(k), 500)) {
            scenarios.push_back(s);
        }
    }
    for (const Scenario& s : SilenceAndHangup("monitor-started", 1000)) {
        scenarios.push_back(s);
    }
    RunAll(scenarios);
}

TEST_F(FaultMatrixTest, EraseFirstAnswer) {
    RunAll({
        {{"--crc-error-at", "erase@0"}, "erase@0", "Wrong CRC!"},
        {{"--error-at", "erase@1:X"}, "erase@1", "Error X!"},
        {{"--unknown-flash-type"}, "erase@0", "Wrong flash type " + std::string(4, '?') + "!"},
        // The lost first answer: the completion that follows it is read in its place, and its
        // blanks do not name a flash type.
        {{"--drop-answer", "erase@1"}, "erase@1", "Wrong flash type     !"},
        {{"--silent-from", "erase@0"}, "erase@0", kNoResponse, false, 1000},
        {{"--hangup-at", "erase@0"}, "erase@0", kNoResponse, false, 0, true},
    });
}

TEST_F(FaultMatrixTest, EraseCompletion) {
    RunAll({
        // A CRC error has no text of its own here.
        {{"--crc-error-at", "erase-done@0"}, "erase-done@0", "Error C!"},
        {{"--error-at", "erase-done@1:Q"}, "erase-done@1", "Error Q!"},
        {{"--busy", "erase-done@0:3"}, "erase-done@0", "", true},
        {{"--hangup-at", "erase-done@1"}, "erase-done@1", kNoResponse, false, 0, true},
    });
}

// The 10 s a sector erase may take, once for silence and once for a lost answer.
TEST_F(FaultMatrixTest, SilentEraseCompletion) {
    Run({{"--silent-from", "erase-done@1"}, "erase-done@1", kNoResponse, false, 10000});
}

TEST_F(FaultMatrixTest, LostEraseCompletion) {
    Run({{"--drop-answer", "erase-done@0"}, "erase-done@0", kNoResponse, false, 10000});
}

TEST_F(FaultMatrixTest, BlockAnswer) {
    RunAll({
        {{"--crc-error-at", "block@2"}, "block@2", "Wrong CRC!"},
        {{"--error-at", "block@3:P"}, "block@3", "Error P!"},
        {{"--busy", "block@1:3"}, "block@1", "", true},
        // One lost answer costs one 3 s wait and one resend, which the target accepts.
        {{"--drop-answer", "block@0:1"}, "block@0", "", true, 3000},
        {{"--hangup-at", "block@3"}, "block@3", kNoResponse, false, 0, true},
    });
}

// Five sends of 3 s each.
TEST_F(FaultMatrixTest, SilentBlock) {
    Run({{"--silent-from", "block@4"}, "block@4", kNoResponse, false, 15000});
}

TEST_F(FaultMatrixTest, FinalizeAnswer) {
    RunAll({
        {{"--crc-error-at", "finalize"}, "finalize", "Wrong CRC!"},
        {{"--error-at", "finalize:Z"}, "finalize", "Error Z!"},
        {{"--busy", "finalize:2"}, "finalize", "", true},
        {{"--silent-from", "finalize"}, "finalize", kNoResponse, false, 3000},
        {{"--drop-answer", "finalize"}, "finalize", kNoResponse, false, 3000},
        {{"--hangup-at", "finalize"}, "finalize", kNoResponse, false, 0, true},
    });
}

}  // namespace
