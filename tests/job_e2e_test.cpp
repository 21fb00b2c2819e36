// The jobs end to end: the job runner on real serial ports (pseudo-terminals) and the system's
// clock, against the virtual target in the test's process. One case per way a job ends; the
// protocol's every answer and fault is covered on virtual lines (initialize_job_test,
// download_job_test).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "link/job.h"
#include "link/job_runner.h"
#include "link/serial_channel.h"
#include "platform/serial_device.h"
#include "tests/support/gate.h"
#include "tests/support/hex_text.h"
#include "tests/support/job_recorder.h"
#include "tests/support/monitor_file.h"
#include "tests/support/test_files.h"
#include "tests/support/virtual_target.h"

using namespace quillon;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

class JobEndToEndTest : public ::testing::Test {
protected:
    JobEndToEndTest() : spec(MonitorFileSpec::VirtualTargetLike(300, 700)) {
        monitorFile = dir.Write("target.h86", spec.HexText());
    }

    JobRecorder Run(JobRunner& runner, JobRequest request, JobRecorder&& events = {}) {
        runner.Start(std::move(request), events);
        runner.Wait();
        EXPECT_EQ(events.done.size(), 1u);
        EXPECT_EQ(events.eventsAfterDone, 0);
        return std::move(events);
    }
    JobRequest Initialize(const std::string& port, std::uint32_t echoWindow = 1) const {
        return {InitializeRequest{monitorFile, EchoWindow{echoWindow}}, {port}, {}};
    }
    static JobRequest Download(const std::vector<std::pair<std::uint32_t, Bytes>>& parts,
                               bool eraseAll = false) {
        auto image = std::make_shared<HexImage>();
        for (const auto& [address, bytes] : parts) {
            EXPECT_TRUE(image->Store(static_cast<int>(address >> 16), address & 0xFFFF,
                                     bytes.data(), bytes.size()));
        }
        return {DownloadRequest{image, {}, eraseAll}, {}, {}};
    }
    static Lines InitializeLines(const std::string& port) {
        return {port + " initialized.",
                std::string(39, '-'),
                "Send BOOTLOAD (Level 0) !    ==> 32 Bytes",
                "Send BOOTLOAD (Level 1) !    ==> 268 Byte",
                "RAM test started.",
                "RAM test successful!",
                "Send Monitor  (Level 2) !   ==> 700 Byte",
                "Monitor started!"};
    }
    // How many of the process's file descriptors lead to `path`.
    static int HandlesOn(const std::string& path) {
        int handles = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            handles += std::filesystem::read_symlink(entry.path(), error) == path ? 1 : 0;
        }
        return handles;
    }

    TempDir dir;
    MonitorFileSpec spec;
    std::string monitorFile;
};

// The throughput path: a whole 64 KB sector and a part of another, with erase-all; the flash
// then holds exactly the image. The monitor session serves the next download, and Initialize
// again opens the port anew without a second handle.
TEST_F(JobEndToEndTest, DownloadWritesExactlyTheImageIntoTheFlash) {
    VirtualTarget target(monitorFile, {});
    ASSERT_TRUE(target.running());
    // The virtual target may hold its own side's handles on the path.
    const int targetHandles = HandlesOn(target.port());
    JobRunner runner;
    const JobRecorder init = Run(runner, Initialize(target.port()));
    EXPECT_EQ(init.lines, InitializeLines(target.port()));
    EXPECT_TRUE(init.result().succeeded());

    const Bytes low = hex_text::Pattern(0x10000, 7);
    const Bytes high = hex_text::Pattern(200, 8);
    const JobRecorder download = Run(runner, Download({{0x000000, low}, {0x0A0010, high}}, true));
    EXPECT_EQ(download.lines,
              (Lines{"Erasing sector 0!", "Erasing sector 1!", "Erasing sector 2!",
                     "Erasing sector 3!", "Erasing sector 10!",
                     "Programming sector 0! " + std::string(52, '*'), "Programming sector 10! *",
                     "Finalizing download", "Download finished successfully!"}));
    EXPECT_TRUE(download.result().succeeded());
    EXPECT_EQ(download.progress.back(),
              (JobRecorder::Progress{ProgressPhase::kProgramming, 0x10000 + 256, 0x10000 + 256}));

    Bytes expected(HexImage::kSize, 0xFF);
    std::copy(low.begin(), low.end(), expected.begin());
    std::copy(high.begin(), high.end(), expected.begin() + 0x0A0010);
    EXPECT_TRUE(target.Flash(dir) == expected) << "the flash differs from the image";
    EXPECT_NE(target.Report().find("\"eraseSequence\": [0, 1, 2, 3, 10]"), std::string::npos)
        << target.Report();

    const JobRecorder again = Run(runner, Download({{0x020000, {0xA5}}}));
    EXPECT_EQ(again.lines.front(), "Erasing sector 2!");
    EXPECT_TRUE(again.result().succeeded());

    EXPECT_EQ(HandlesOn(target.port()), targetHandles + 1);
    EXPECT_TRUE(Run(runner, Initialize(target.port())).result().succeeded());
    EXPECT_EQ(HandlesOn(target.port()), targetHandles + 1)
        << "the port of the last Initialize was closed";
}

// A fault of the target ends the job with its line; a hang-up of the line is seen at once,
// and a write to it ends the job as a lost line.
TEST_F(JobEndToEndTest, FailedJobs) {
    struct Row {
        std::vector<std::string> faults;
        bool download;
        std::string line;
        FailureReason reason;
    };
    const std::vector<Row> rows = {
        {{"--wrong-ident", "0x12"},
         false,
         "Wrong answer (Set 0x6B::Act 0x12)!",
         FailureReason::kWrongAnswer},
        {{"--crc-error-at", "block@1"}, true, "Wrong CRC!", FailureReason::kWrongCrc},
        // The block is sent again to a line that has gone.
        {{"--hangup-at", "block@1"}, true, kLineLostLine, FailureReason::kLineLost},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.faults[0]);
        VirtualTarget target(monitorFile, row.faults);
        JobRunner runner;
        JobRecorder events = Run(runner, Initialize(target.port()));
        if (row.download) {
            ASSERT_TRUE(events.result().succeeded());
            events = Run(runner, Download({{0x010000, hex_text::Pattern(600, 9)}}));
        }
        EXPECT_EQ(events.lines.back(), row.line);
        EXPECT_EQ(events.result().reason, row.reason);
    }
}

// The echo window against a target paced at the wire's speed whose loader takes a byte only
// every 200 µs into a one-byte buffer (more than two character times): a window of 32 runs
// ahead of it, the byte lost there ends Initialize with a wrong echo, and the target counts the
// overrun; lock step waits for each echo and succeeds. Through a USB adapter's latency a loader
// that keeps up takes the window whole.
TEST_F(JobEndToEndTest, EchoWindowAgainstASlowLoader) {
    const std::vector<std::string> slowLoader = {"--baud", "115200",  "--rx-fifo",
                                                 "1",      "--rx-us", "200"};
    struct Row {
        std::uint32_t window;
        std::vector<std::string> sim;
        bool started;
    };
    const std::vector<Row> rows = {
        {32, slowLoader, false},
        {1, slowLoader, true},
        {32, {"--baud", "115200", "--latency-us", "1000"}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("window " + std::to_string(row.window) + ", " + row.sim[2]);
        VirtualTarget target(monitorFile, row.sim);
        JobRunner runner;
        const JobRecorder events = Run(runner, Initialize(target.port(), row.window));
        EXPECT_EQ(events.result().succeeded(), row.started);
        if (row.started) {
            EXPECT_EQ(events.lines, InitializeLines(target.port()));
            EXPECT_NE(target.Report().find("\"overruns\": 0,"), std::string::npos);
        } else {
            ASSERT_EQ(events.lines.size(), 8u);
            EXPECT_EQ(events.lines.back().rfind("Wrong answer (Set 0x", 0), 0u)
                << events.lines.back();
            EXPECT_EQ(target.Report().find("\"overruns\": 0,"), std::string::npos)
                << target.Report();
        }
    }
}

// A target whose UART makes 500000 from 24 MHz / 16: the host at 460800 (8.5% off) garbles
// its sync byte into a framing error the loader drops, and Initialize finds no answer at the
// handshake; at 500000 the monitor starts. The target paces at the host's rate.
TEST_F(JobEndToEndTest, MismatchedRateFailsAtTheHandshake) {
    const struct {
        std::uint32_t baud;
        bool started;
    } rows[] = {{460800, false}, {500000, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.baud);
        VirtualTarget target(
            monitorFile, {"--uart-clock", "24000000", "--uart-prescale", "16", "--baud", "auto"});
        JobRunner runner;
        JobRequest request = Initialize(target.port());
        request.line.baud = {row.baud};
        const JobRecorder events = Run(runner, std::move(request));
        EXPECT_EQ(events.result().succeeded(), row.started);
        if (row.started) {
            EXPECT_EQ(events.lines, InitializeLines(target.port()));
        } else {
            EXPECT_EQ(events.lines.back(),
                      "No response from target (=> Activate BSL-Mode => Reset) !");
            EXPECT_EQ(events.result().reason, FailureReason::kNoAnswer);
        }
        EXPECT_NE(target.Report().find("\"uart\": {\"hostBaud\": " + std::to_string(row.baud) +
                                       ", \"baud\": 500000, \"divider\": 2"),
                  std::string::npos)
            << target.Report();
    }
}

// Ports that cannot serve: the line for the log, and the port with the system's reason.
TEST_F(JobEndToEndTest, PortsThatCannotOpen) {
    VirtualTarget target(monitorFile, {});
    SerialDevice holder;
    ASSERT_TRUE(holder.Open(target.port()));
    const std::string missing = (dir.path() / "no-such-port").string();
    struct Row {
        std::string port;
        std::string line;
        FailureReason reason;
        std::string why;
    };
    const std::vector<Row> rows = {
        {missing, "Unable to open COM port!", FailureReason::kPortUnavailable, "not found"},
        {target.port(), "Unable to open COM port!", FailureReason::kPortUnavailable,
         "busy (another program has it)"},
        {"/dev/null", "Error initializing COM port!", FailureReason::kPortSettings,
         "not a serial device"},
    };
    JobRunner runner;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.port);
        const JobRecorder events = Run(runner, Initialize(row.port));
        EXPECT_EQ(events.lines, Lines{row.line});
        EXPECT_EQ(events.result().reason, row.reason);
        EXPECT_EQ(events.result().text, row.line);
        EXPECT_EQ(events.result().detail, row.port + ": " + row.why);
    }
}

// The owner's stop request during programming: the job ends at the next block, sends no
// finalize, and the monitor still serves the next download.
TEST_F(JobEndToEndTest, AbortDuringProgrammingSendsNoFinalize) {
    // Holds the job at its first progress event until the owner has asked it to stop.
    struct HoldAtProgress : JobRecorder {
        void OnJobEvent(const JobEvent& event) override {
            JobRecorder::OnJobEvent(event);
            if (event.kind == JobEvent::Kind::kProgress && !held) {
                held = true;
                reached.Open();
                stopAsked.Wait();
            }
        }
        bool held = false;
        Gate reached;
        Gate stopAsked;
    };
    VirtualTarget target(monitorFile, {});
    JobRunner runner;
    ASSERT_TRUE(Run(runner, Initialize(target.port())).result().succeeded());
    HoldAtProgress events;
    runner.Start(Download({{0, hex_text::Pattern(20000, 1)}}), events);
    events.reached.Wait();
    runner.RequestStop();
    events.stopAsked.Open();
    runner.Wait();
    ASSERT_EQ(events.done.size(), 1u);
    EXPECT_TRUE(events.result().aborted());
    const std::uint32_t done = events.progress.front().done;
    EXPECT_LT(done, events.progress.front().total);
    EXPECT_NE(target.Report().find("\"blocksProgrammed\": " + std::to_string(done / 128) + ","),
              std::string::npos)
        << "no block after the stop request: " << target.Report();
    EXPECT_NE(target.Report().find("\"finalized\": 0"), std::string::npos) << target.Report();

    const JobRecorder next = Run(runner, Download({{0, {7}}}));
    EXPECT_TRUE(next.result().succeeded());
}

}  // namespace
