// The jobs end to end: the real worker, over a pseudo-terminal, against the virtual target.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/support/hex_text.h"
#include "tests/support/job_harness.h"
#include "tests/support/monitor_file.h"
#include "tests/support/test_files.h"
#include "tests/support/virtual_target.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

const std::string kNoResponse = "No response from target (=> Activate BSL-Mode => Reset) !";

class JobEndToEndTest : public ::testing::Test {
protected:
    JobEndToEndTest() {
        spec = MonitorFileSpec::VirtualTargetLike(300, 700);
        monitorFile = dir.Write("target.h86", spec.HexText());
    }

    std::string Image(const std::vector<std::pair<std::uint32_t, Bytes>>& parts) {
        std::string text;
        for (const auto& [address, bytes] : parts) {
            text += HexTextAt(address, bytes);
        }
        return dir.Write("image.hex", text + hex_text::End());
    }

    Lines InitializeLines(const std::string& port) const {
        return {port + " initialized.",
                std::string(39, '-'),
                "Send BOOTLOAD (Level 0) !    ==> 32 Bytes",
                "Send BOOTLOAD (Level 1) !    ==> 268 Byte",
                "RAM test started.",
                "RAM test successful!",
                "Send Monitor  (Level 2) !   ==> 700 Byte",
                "Monitor started!"};
    }

    TempDir dir;
    MessageRecorder boxes;
    MonitorFileSpec spec;
    std::string monitorFile;
    JobHarness harness;
};

TEST_F(JobEndToEndTest, DownloadWritesExactlyTheImageIntoTheFlash) {
    VirtualTarget target(monitorFile, {});
    const JobResult init = harness.Initialize(target.port(), monitorFile);
    EXPECT_EQ(init.log, InitializeLines(target.port()));
    EXPECT_EQ(init.succeeded, 1);
    EXPECT_EQ(init.doneMessages, 1);

    // Data in sectors 0 and 10; sector 10's last block only partly defined.
    const Bytes low = hex_text::Pattern(1500, 7);
    const Bytes high = hex_text::Pattern(200, 8);
    harness.eraseAll = 1;
    const JobResult download = harness.Download(Image({{0x000010, low}, {0x0A0000, high}}));
    EXPECT_EQ(download.log, (Lines{"Erasing sector 0!", "Erasing sector 1!", "Erasing sector 2!",
                                   "Erasing sector 3!", "Erasing sector 10!",
                                   "Programming sector 0! **", "Programming sector 10! *",
                                   "Finalizing download", "Download finished successfully!"}));
    EXPECT_EQ(download.succeeded, 1);
    EXPECT_EQ(download.doneMessages, 1);

    // The expected flash, built here: erased everywhere but the image's bytes.
    Bytes expected(16 * 1024 * 1024, 0xFF);
    std::copy(low.begin(), low.end(), expected.begin() + 0x10);
    std::copy(high.begin(), high.end(), expected.begin() + 0x0A0000);
    const Bytes flash = target.Flash(dir);
    ASSERT_EQ(flash.size(), expected.size());
    EXPECT_TRUE(flash == expected) << "the flash differs from the image";
    EXPECT_NE(target.Report().find("\"eraseSequence\": [0, 1, 2, 3, 10]"), std::string::npos)
        << target.Report();

    // Without erase-all, only the used sectors; the same monitor session serves the next job.
    harness.eraseAll = 0;
    const JobResult again = harness.Download(Image({{0x000010, low}, {0x0A0000, high}}));
    EXPECT_EQ(again.log[0], "Erasing sector 0!");
    EXPECT_EQ(again.log[1], "Erasing sector 10!");
    EXPECT_EQ(again.succeeded, 1);
    EXPECT_TRUE(boxes.messages().empty());
}

TEST_F(JobEndToEndTest, BlockCountsFollowTheLastUsedOffset) {
    VirtualTarget target(monitorFile, {});
    ASSERT_EQ(harness.Initialize(target.port(), monitorFile).succeeded, 1);
    struct Case {
        std::uint32_t lastOffset;
        const char* stars;
        const char* lastBlock;
    };
    for (const Case& c :
         {Case{255, "*", "0x020080"}, Case{256, "*", "0x020100"}, Case{1280, "**", "0x020500"}}) {
        SCOPED_TRACE(c.lastOffset);
        const JobResult result = harness.Download(Image({{0x020000 + c.lastOffset, Bytes{0xA5}}}));
        EXPECT_EQ(result.log[1], std::string("Programming sector 2! ") + c.stars);
        EXPECT_EQ(result.succeeded, 1);
        EXPECT_NE(target.Report().find(std::string("\"to\": \"") + c.lastBlock + "\""),
                  std::string::npos)
            << target.Report();
    }
}

// Each fault the virtual target can play, and what the operator reads.
TEST_F(JobEndToEndTest, InitializeFaults) {
    const std::string wrongEcho = "Wrong answer (Set 0x" + [&] {
        char text[16];
        std::snprintf(text, sizeof text, "%02X::Act 0x%02X", spec.monitor[5],
                      static_cast<std::uint8_t>(~spec.monitor[5]));
        return std::string(text);
    }() + ")!";
    struct Case {
        std::vector<std::string> options;
        std::string line;
    };
    const std::vector<Case> cases = {
        {{"--wrong-ident", "0x12"}, "Wrong answer (Set 0x6B::Act 0x12)!"},
        {{"--silent-from", "ident"}, kNoResponse},
        {{"--wrong-loader-ack", "0x99"}, "Wrong answer (Set 0x3C::Act 0x99)!"},
        {{"--ram-marker", "0x55"}, "Wrong answer (Set 0xAA::Act 0x55)!"},
        {{"--ram-fail", "0x12345678:0x5A:0xEF"},
         "RAM test failed at address: 0x1234.5678  Set: 0x5A <> 0xEF :Act!"},
        {{"--silent-from", "ram-report"}, kNoResponse},
        {{"--silent-from", "monitor-load@2"}, kNoResponse},
        {{"--wrong-echo", "5"}, wrongEcho},
        {{"--silent-from", "monitor-started"}, kNoResponse},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options[0] + " " + c.options[1]);
        VirtualTarget target(monitorFile, c.options);
        const JobResult result = harness.Initialize(target.port(), monitorFile);
        ASSERT_FALSE(result.log.empty());
        EXPECT_EQ(result.log.back(), c.line);
        EXPECT_EQ(result.doneMessages, 1);
        EXPECT_EQ(result.aborted, 0u);
        EXPECT_EQ(result.succeeded, 0);
    }
}

TEST_F(JobEndToEndTest, DownloadFaults) {
    struct Case {
        std::vector<std::string> options;
        std::string line;  // the last log line
        LParam succeeded;
    };
    const std::vector<Case> cases = {
        {{"--unknown-flash-type"}, "Wrong flash type \x3F\x3F\x3F\x3F!", 0},
        {{"--crc-error-at", "erase"}, "Wrong CRC!", 0},
        {{"--error-at", "erase:X"}, "Error X!", 0},
        {{"--error-at", "erase-done:C"}, "Error C!", 0},
        {{"--busy", "erase-done:3"}, "Download finished successfully!", 1},
        {{"--silent-from", "erase"}, kNoResponse, 0},
        {{"--crc-error-at", "block@2"}, "Wrong CRC!", 0},
        {{"--error-at", "block@1:Q"}, "Error Q!", 0},
        {{"--busy", "block@0:4"}, "Download finished successfully!", 1},
        {{"--drop-answer", "block@1:2"}, "Download finished successfully!", 1},
        {{"--crc-error-at", "finalize"}, "Wrong CRC!", 0},
        {{"--error-at", "finalize:Z"}, "Error Z!", 0},
        {{"--busy", "finalize:2"}, "Download finished successfully!", 1},
        {{"--silent-from", "finalize"}, kNoResponse, 0},
        {{"--hangup-at", "block@1"}, kNoResponse, 0},
    };
    const std::string image = Image({{0x010000, hex_text::Pattern(600, 9)}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options[0] + (c.options.size() > 1 ? " " + c.options[1] : ""));
        VirtualTarget target(monitorFile, c.options);
        ASSERT_EQ(harness.Initialize(target.port(), monitorFile).succeeded, 1);
        const JobResult result = harness.Download(image);
        ASSERT_FALSE(result.log.empty());
        EXPECT_EQ(result.log.back(), c.line);
        EXPECT_EQ(result.doneMessages, 1);
        EXPECT_EQ(result.aborted, 0u);
        EXPECT_EQ(result.succeeded, c.succeeded);
    }
}

TEST_F(JobEndToEndTest, SilentBlockEndsAfterFiveSends) {
    VirtualTarget target(monitorFile, {"--drop-answer", "block@0:5"});
    ASSERT_EQ(harness.Initialize(target.port(), monitorFile).succeeded, 1);
    const JobResult result = harness.Download(Image({{0, Bytes{1, 2, 3}}}));
    EXPECT_EQ(result.log.back(), kNoResponse);
    EXPECT_EQ(result.succeeded, 0);
    EXPECT_NE(target.Report().find("\"blockRepeats\": 4"), std::string::npos) << target.Report();
}

TEST_F(JobEndToEndTest, AbortDuringProgrammingSendsNoFinalize) {
    VirtualTarget target(monitorFile, {"--program-ms", "20"});
    ASSERT_EQ(harness.Initialize(target.port(), monitorFile).succeeded, 1);
    std::thread cancel([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        g_bStopJob = 1;
    });
    const JobResult result = harness.Download(Image({{0, hex_text::Pattern(20000, 1)}}));
    cancel.join();
    EXPECT_EQ(result.aborted, 1u);
    EXPECT_EQ(result.succeeded, 0);
    EXPECT_EQ(result.doneMessages, 1);
    EXPECT_EQ(target.Report().find("\"finalized\": true"), std::string::npos) << target.Report();

    // The target still runs its monitor: the next download completes.
    const JobResult next = harness.Download(Image({{0, Bytes{7}}}));
    EXPECT_EQ(next.succeeded, 1);
}

}  // namespace
