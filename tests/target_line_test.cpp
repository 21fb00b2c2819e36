// The jobs' side of the line on a scripted line and a virtual clock: how many bytes a wait
// takes, what a time-out does with a partial answer, writes as the far end sees them.
#include "link/target_line.h"

#include <gtest/gtest.h>

#include "link/port_channel.h"

#include <string>
#include <vector>

#include "tests/support/hex_text.h"
#include "tests/support/job_recorder.h"
#include "tests/support/virtual_line.h"

using namespace quillon;

namespace {

using Lines = std::vector<std::string>;
using Part = ScriptedLine::Part;

class TargetLineTest : public ::testing::Test {
protected:
    TargetLineTest() : channel(far.Open().channel), line(*channel, clock, events) {}

    Bytes BufferStart(std::size_t count) { return Bytes(line.buffer(), line.buffer() + count); }

    VirtualClock clock;
    ScriptedLine far{clock};
    std::unique_ptr<ByteChannel> channel;
    JobRecorder events;
    TargetLine line;
};

// One wait after another over what the far end sent: exact counts leave the rest queued, a
// read of everything takes at most one buffer full, an answer that completes during the wait
// is taken, and a wait with nothing there (or too little) ends at its time-out exactly.
TEST_F(TargetLineTest, WaitsTakeWhatTheyAskFor) {
    struct Wait {
        std::uint32_t timeoutMs;
        std::size_t count;
        bool readAll;
        bool ok;
        Bytes read;
        std::uint64_t endsAtMs;  // on the virtual clock, since the case began
        Lines debug = {};
    };
    struct Row {
        std::string name;
        std::vector<Part> sent;
        std::vector<Wait> waits;
    };
    const Bytes nine = hex_text::Ascending(9, 0x10);
    const Bytes many = hex_text::Ascending(2000, 0);
    const std::vector<Row> rows = {
        {"an exact count leaves the rest for the next answer",
         {{0, nine}},
         {{1000, 7, false, true, Bytes(nine.begin(), nine.begin() + 7), 0},
          {1000, 2, false, true, Bytes(nine.begin() + 7, nine.end()), 0},
          {50, 1, true, false, {}, 50}}},
        {"a read of everything takes at most one buffer full",
         {{0, many}},
         {{1000, 1, true, true, Bytes(many.begin(), many.begin() + 1024), 0},
          {1000, 976, false, true, Bytes(many.begin() + 1024, many.end()), 0},
          {50, 1, false, false, {}, 50}}},
        {"an answer that completes during the wait is taken, from the time it is there",
         {{0, {'A', 'B', 'C'}}, {100, {'D', 'E', 'F', 'G', 'H'}}},
         {{3000, 7, false, true, {'A', 'B', 'C', 'D', 'E', 'F', 'G'}, 100},
          {100, 1, false, true, {'H'}, 100}}},
        {"a time-out consumes a partial answer and shows it as debug text",
         {{0, {0x0A, 0xB0, 0xFF}}, {400, {0x42}}},
         {{300,
           7,
           false,
           false,
           {0x0A, 0xB0, 0xFF},
           300,
           {"WaitForResponse(): To few bytes, 0A, B0, FF"}},
          {1000, 1, true, true, {0x42}, 400}}},
        {"the answer due at the deadline is still taken",
         {{500, {0x11}}},
         {{500, 1, false, true, {0x11}, 500}}},
        {"a count above the buffer is one buffer full",
         {{0, many}},
         {{1000, 5000, false, true, Bytes(many.begin(), many.begin() + 1024), 0}}},
        {"a count of 0 is one byte", {{0, nine}}, {{1000, 0, false, true, {0x10}, 0}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::uint64_t start = clock.NowMs();
        line.DiscardInput();
        for (const Part& part : row.sent) {
            far.Say(part);
        }
        for (const Wait& wait : row.waits) {
            events.debug.clear();
            EXPECT_EQ(line.WaitForResponse(wait.timeoutMs, wait.count, wait.readAll), wait.ok);
            EXPECT_EQ(line.lastReadCount(), wait.read.size());
            EXPECT_EQ(BufferStart(wait.read.size()), wait.read);
            EXPECT_EQ(clock.NowMs() - start, wait.endsAtMs) << "virtual ms";
            EXPECT_EQ(events.debug, wait.debug);
        }
    }
}

TEST_F(TargetLineTest, DiscardInputDropsEverythingWaiting) {
    far.Say({0, hex_text::Ascending(3000, 0)});
    line.DiscardInput();
    EXPECT_FALSE(line.WaitForResponse(50, 1, true));
    EXPECT_TRUE(events.debug.empty());
}

// Writes reach the far end as they were made; a failed write says why, and a byte-by-byte
// stretch stops at it.
TEST_F(TargetLineTest, WritesReachTheFarEndUnchanged) {
    const Bytes frame = {'P', '2', '0', '0', '6', '1', '2', '1'};
    EXPECT_TRUE(line.WriteBytes(frame.data(), frame.size()).has_value());
    const Bytes loader = hex_text::Ascending(5, 0x80);
    EXPECT_TRUE(line.WriteEachByte(loader.data(), loader.size()).has_value());
    EXPECT_TRUE(
        line.WriteEachByte(loader.data(), 0).has_value());  // an empty stretch sends nothing
    ASSERT_EQ(far.writes().size(), 1 + loader.size()) << "one write, then one per byte";
    EXPECT_EQ(far.writes()[0].bytes, frame);
    for (std::size_t i = 0; i < loader.size(); ++i) {
        EXPECT_EQ(far.writes()[i + 1].bytes, Bytes{loader[i]});
    }
    far.FailWritesFrom(far.writes().size() + 2, "Input/output error");
    const Status failed = line.WriteEachByte(loader.data(), loader.size());
    ASSERT_FALSE(failed.has_value());
    EXPECT_EQ(failed.error().text, "Input/output error");
    EXPECT_EQ(far.writes().size(), 3 + loader.size()) << "nothing after the failed write";
}

// A line the far end hung up on: a wait ends at once, as a time-out; what had arrived before
// is still read.
TEST_F(TargetLineTest, WaitOnALineThatHungUpEndsAtOnce) {
    class HangingUp : public ScriptedLine {
    public:
        using ScriptedLine::ScriptedLine;
        void HangUp() { HangUpAt(clock().NowMs()); }
    };
    VirtualClock hangClock;
    HangingUp far2(hangClock);
    std::unique_ptr<ByteChannel> opened = far2.Open().channel;
    TargetLine hung(*opened, hangClock, events);
    far2.Say({0, {0x01, 0x02}});
    far2.HangUp();
    EXPECT_FALSE(hung.WaitForResponse(5000, 7, false));
    EXPECT_EQ(events.debug, Lines{"WaitForResponse(): To few bytes, 01, 02"});
    EXPECT_FALSE(hung.WaitForResponse(5000, 1, true));
    EXPECT_EQ(hangClock.NowMs(), 0u) << "no wait on a line that has gone";
    EXPECT_TRUE(opened->IsGone());
    EXPECT_EQ(events.debug.size(), 1u) << "nothing queued, nothing shown";
}

// A job's line comes from the environment it is opened in: a device that the environment
// cannot open is a line that cannot be opened, for the reason the environment gives.
TEST(PortChannelTest, TheLineComesFromItsEnvironment) {
    class BusyDevices : public SystemEnv {
    public:
        using SystemEnv::SystemEnv;
        Result<std::unique_ptr<SerialDevice>> OpenSerialDevice(const std::string&) override {
            return Fail(ErrorKind::kBusy, "busy (another program has it)");
        }
    };
    VirtualClock clock;
    BusyDevices env(clock);
    const OpenedChannel opened =
        OpenPortChannel(PortAddress{}, {"/dev/ttyUSB0", kDefaultBaudRate}, {}, env);
    EXPECT_EQ(opened.status, OpenedChannel::Status::kCannotOpen);
    EXPECT_EQ(opened.reason, "busy (another program has it)");
    EXPECT_EQ(opened.channel, nullptr);
}

}  // namespace
