// The jobs' line over the Win32 serial backend (SerialChannel under TargetLine), against the
// other end of a COM port pair: opening, waits, writes and discards on a real port.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "link/serial_channel.h"
#include "link/target_line.h"
#include "platform/clock.h"
#include "tests/support/hex_text.h"
#include "tests/support/job_recorder.h"
#include "tests/support/win32_com_pair.h"

using namespace quillon;

namespace {

using Bytes = std::vector<std::uint8_t>;

class Win32SerialChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUILLON_REQUIRE_COM_PAIR(pair);
        Win32ComPair::OpenClean(peer, pair.peer);
        OpenedChannel opened = OpenSerialChannel({pair.port, {57600}});
        ASSERT_EQ(opened.status, OpenedChannel::Status::kOpened) << opened.reason;
        channel = std::move(opened.channel);
        line = std::make_unique<TargetLine>(*channel, clock, events);
        line->DiscardInput();
    }

    void Send(const Bytes& bytes) { ASSERT_TRUE(peer.Write(bytes.data(), bytes.size())); }
    // Waits until `count` bytes the other end sent wait in the port's input queue.
    void Arrived(std::size_t count) {
        channel->WaitForInput(count, 3000);
        ASSERT_GE(channel->Queued(), count);
    }
    Bytes BufferStart(std::size_t count) { return Bytes(line->buffer(), line->buffer() + count); }

    Win32ComPair pair;
    SerialDevice peer;
    SteadyClock clock;
    JobRecorder events;
    std::unique_ptr<ByteChannel> channel;
    std::unique_ptr<TargetLine> line;
};

// A port held, one that is not there, one that is no serial device: the status and the
// system's reason; a port that refused its settings stays open.
TEST_F(Win32SerialChannelTest, OpeningReportsWhyNot) {
    const OpenedChannel missing = OpenSerialChannel({"COM231", {57600}});
    EXPECT_EQ(missing.status, OpenedChannel::Status::kCannotOpen);
    EXPECT_FALSE(missing.channel);
    EXPECT_EQ(missing.reason, "not found");
    if (!RunningUnderWine()) {
        const OpenedChannel held = OpenSerialChannel({pair.port, {57600}});
        EXPECT_EQ(held.status, OpenedChannel::Status::kCannotOpen) << "held by the fixture";
    }
    const OpenedChannel notSerial = OpenSerialChannel({"NUL", {57600}});
    EXPECT_EQ(notSerial.status, OpenedChannel::Status::kCannotConfigure);
    EXPECT_TRUE(notSerial.channel) << "a port that refused its settings stays open";
}

TEST_F(Win32SerialChannelTest, ExactCountLeavesTheRestAndReadAllTakesOneBufferFull) {
    Send(hex_text::Ascending(9, 0x10));
    EXPECT_TRUE(line->WaitForResponse(1000, 7, false));
    EXPECT_EQ(BufferStart(7), hex_text::Ascending(7, 0x10));
    EXPECT_TRUE(line->WaitForResponse(1000, 2, false));
    EXPECT_EQ(BufferStart(2), hex_text::Ascending(2, 0x17));

    const Bytes sent = hex_text::Ascending(2000, 0);
    Send(sent);
    Arrived(sent.size());
    EXPECT_TRUE(line->WaitForResponse(1000, 1, true));
    EXPECT_EQ(BufferStart(1024), Bytes(sent.begin(), sent.begin() + 1024));
    EXPECT_TRUE(line->WaitForResponse(1000, 976, false)) << "976 bytes stay queued";
    EXPECT_EQ(BufferStart(976), Bytes(sent.begin() + 1024, sent.end()));
    EXPECT_FALSE(line->WaitForResponse(50, 1, false));
    EXPECT_TRUE(events.debug.empty());
}

TEST_F(Win32SerialChannelTest, TimeOutConsumesAPartialAnswerAndShowsItAsDebugText) {
    EXPECT_FALSE(line->WaitForResponse(100, 1, true));
    EXPECT_TRUE(events.debug.empty()) << "nothing queued, nothing shown";

    Send({0x0A, 0xB0, 0xFF});
    Arrived(3);
    EXPECT_FALSE(line->WaitForResponse(300, 7, false));
    EXPECT_EQ(events.debug,
              std::vector<std::string>{"WaitForResponse(): To few bytes, 0A, B0, FF"});

    Send({0x42});
    EXPECT_TRUE(line->WaitForResponse(1000, 1, true));
    EXPECT_EQ(line->buffer()[0], 0x42) << "the partial answer was consumed";
}

TEST_F(Win32SerialChannelTest, WritesAndDiscardsReachTheLine) {
    const Bytes frame = {'P', '2', '0', '0', '6', '1', '2', '1'};
    EXPECT_TRUE(line->WriteBytes(frame.data(), frame.size()).has_value());
    const Bytes loader = hex_text::Ascending(256, 0x80);
    EXPECT_TRUE(line->WriteEachByte(loader.data(), loader.size()).has_value());
    ASSERT_TRUE(peer.WaitForInput(frame.size() + loader.size(), 3000));
    Bytes got(frame.size() + loader.size());
    EXPECT_EQ(peer.Read(got.data(), got.size()), got.size());
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 8), frame);
    EXPECT_EQ(Bytes(got.begin() + 8, got.end()), loader);

    Send(hex_text::Ascending(3000, 0));
    Arrived(3000);
    line->DiscardInput();
    EXPECT_FALSE(line->WaitForResponse(50, 1, true));
    EXPECT_TRUE(events.debug.empty());
}

}  // namespace
