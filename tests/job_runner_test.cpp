// The job runner on a virtual line: one done event per job, the line kept from Initialize to
// Start Download, the owner's stop request as the abort, one job at a time, and the thread
// joined by its owner.
#include "link/job_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "image/hex_image.h"
#include "tests/support/gate.h"
#include "tests/support/job_recorder.h"
#include "tests/support/monitor_file.h"
#include "tests/support/test_files.h"
#include "tests/support/virtual_line.h"

using namespace quillon;

namespace {

// A far end that answers Initialize and Start Download as a sound target would, at once.
ScriptedLine::Responder SoundTarget(const MonitorFileSpec& spec) {
    return [spec, written = std::size_t{0}](const Bytes& bytes) mutable {
        std::vector<ScriptedLine::Part> parts;
        const std::size_t handshake = 1 + spec.loader.size() + 5 + spec.monitor.size();
        if (written >= handshake) {
            const std::string frame(bytes.begin(), bytes.end());
            const std::string answer = frame[0] == 'P' ? "AVF16  " : "A      ";
            parts.push_back({0, Bytes(answer.begin(), answer.end())});
            if (frame[0] == 'P') {
                parts.push_back({1, Bytes(answer.begin(), answer.end())});
            }
            return parts;
        }
        for (const std::uint8_t byte : bytes) {
            ++written;
            if (written == 1) {
                parts.push_back({0, {spec.identByte}});
            } else if (written == 1 + spec.loader.size()) {
                parts.push_back({0, {spec.loaderAck, 0xAA, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 3}});
            } else if (written > 1 + spec.loader.size()) {
                parts.push_back({0, {byte}});  // the echo
            }
        }
        if (written == handshake) {
            parts.push_back({0, {0x11}});
        }
        return parts;
    };
}

class JobRunnerTest : public ::testing::Test {
protected:
    JobRunnerTest() : spec(MonitorFileSpec::VirtualTargetLike(40, 64)) {
        initialize = {InitializeRequest{dir.Write("target.h86", spec.HexText())}, {"COM7"}, {}};
        auto image = std::make_shared<HexImage>();
        const std::uint8_t data[] = {1, 2, 3};
        EXPECT_TRUE(image->Store(1, 0, data, sizeof data));
        download = {DownloadRequest{image, {}, false}, {"COM7"}, {}};
    }

    // Opens the line, but first says it was asked and waits for the test to let it go on.
    ChannelOpener GatedOpener(Gate& asked, Gate& goOn) {
        return [this, &asked, &goOn](const LineSettings&) {
            asked.Open();
            goOn.Wait();
            return line.Open();
        };
    }

    TempDir dir;
    MonitorFileSpec spec;
    VirtualClock clock;
    ScriptedLine line{clock, SoundTarget(spec)};
    JobRequest initialize;
    JobRequest download;
};

// Initialize, then Start Download on the line it left open: one done event each, after every
// other event. A stop request while no job runs is no abort of the next job.
TEST_F(JobRunnerTest, EachJobEndsWithOneDoneAndTheLineStaysOpen) {
    JobRunner runner(line.Opener(), clock);
    runner.RequestStop();
    JobRecorder first;
    runner.Start(initialize, first);
    runner.Wait();
    JobRecorder second;
    runner.Start(download, second);
    runner.Wait();
    runner.RequestStop();
    for (const JobRecorder* events : {&first, &second}) {
        EXPECT_EQ(events->done.size(), 1u);
        EXPECT_EQ(events->eventsAfterDone, 0);
        EXPECT_TRUE(events->result().succeeded()) << events->result().text;
    }
    EXPECT_EQ(second.lines.back(), "Download finished successfully!");
    EXPECT_EQ(line.openings(), 1);
    EXPECT_TRUE(line.held()) << "the line stays open for the next job";
}

// The owner's stop request ends the running job at its next poll point, as aborted.
TEST_F(JobRunnerTest, StopRequestAbortsTheRunningJob) {
    Gate asked;
    Gate goOn;
    JobRunner runner(GatedOpener(asked, goOn), clock);
    JobRecorder events;
    runner.Start(initialize, events);
    asked.Wait();
    runner.RequestStop();
    goOn.Open();
    runner.Wait();
    EXPECT_EQ(events.lines, std::vector<std::string>{"COM7 initialized."});
    ASSERT_EQ(events.done.size(), 1u);
    EXPECT_TRUE(events.result().aborted());
    EXPECT_EQ(events.result().text, kAbortedLine);
    EXPECT_TRUE(line.writes().empty()) << "nothing sent after the stop";
}

// A job started while another runs waits for its end: the jobs never overlap.
TEST_F(JobRunnerTest, ASecondJobWaitsForTheFirst) {
    Gate asked;
    Gate goOn;
    std::mutex mutex;
    std::vector<std::string> order;
    struct Ordered : JobRecorder {
        Ordered(std::string name_, std::mutex& mutex_, std::vector<std::string>& order_)
            : name(std::move(name_)), mutex(mutex_), order(order_) {}
        void OnJobEvent(const JobEvent& event) override {
            if (event.kind == JobEvent::Kind::kLine || event.kind == JobEvent::Kind::kDone) {
                const std::lock_guard lock(mutex);
                order.push_back(name + (event.kind == JobEvent::Kind::kLine ? " line" : " done"));
            }
            JobRecorder::OnJobEvent(event);
        }
        std::string name;
        std::mutex& mutex;
        std::vector<std::string>& order;
    };
    JobRunner runner(GatedOpener(asked, goOn), clock);
    Ordered first("first", mutex, order);
    Ordered second("second", mutex, order);
    runner.Start(initialize, first);
    asked.Wait();
    std::thread owner([&] { runner.Start(download, second); });
    goOn.Open();
    owner.join();
    runner.Wait();
    // Every event of the first job, its done last, then every event of the second.
    const auto firstDone = std::find(order.begin(), order.end(), "first done");
    ASSERT_NE(firstDone, order.end());
    for (auto it = order.begin(); it != order.end(); ++it) {
        EXPECT_EQ(it->rfind(it <= firstDone ? "first" : "second", 0), 0u) << *it;
    }
    EXPECT_EQ(order.back(), "second done");
    EXPECT_TRUE(first.result().succeeded());
    EXPECT_TRUE(second.result().succeeded());
}

// Ending the runner while a job runs stops the job, waits for its last event and closes the
// line; the events outlive the runner only as long as the test needs them.
TEST_F(JobRunnerTest, EndingTheRunnerJoinsTheJobAndClosesTheLine) {
    Gate asked;
    Gate goOn;
    JobRecorder events;
    {
        JobRunner runner(GatedOpener(asked, goOn), clock);
        runner.Start(initialize, events);
        asked.Wait();
        goOn.Open();
    }
    EXPECT_EQ(events.done.size(), 1u) << "the job ended before the runner";
    EXPECT_EQ(events.eventsAfterDone, 0);
    EXPECT_EQ(line.openings(), 1);
    EXPECT_FALSE(line.held()) << "the runner closed the line";
}

}  // namespace
