#include "link/serial_link.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "image/image_memory.h"
#include "platform/debug_channel.h"
#include "tests/support/hex_text.h"
#include "tests/support/posted_messages.h"
#include "tests/support/pty_pair.h"
#include "tests/support/test_files.h"

namespace {

class SerialLinkTest : public ::testing::Test {
protected:
    SerialLinkTest() {
        job.hWndOwner = &owner;
        job.strPort = pty.slavePath();
        job.nBaudRate = 57600;
        m_previousDebug =
            SetDebugTextHandler([this](const std::string& text) { debug.push_back(text); });
    }
    ~SerialLinkTest() override {
        SetDebugTextHandler(m_previousDebug);
        DiscardAll(owner);
    }

    std::vector<std::string> LogLines() { return TakeLogLines(owner); }

    std::vector<std::uint8_t> BufferStart(std::size_t count) {
        return std::vector<std::uint8_t>(link.buffer(), link.buffer() + count);
    }

    // Waits until the peer's bytes have surely reached the port.
    static void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

    PtyPair pty;
    MessageQueue owner;
    JobParams job;
    MonitorHeader header{};
    SerialLink link{header};
    std::vector<std::string> debug;

private:
    DebugTextHandler m_previousDebug;
};

TEST_F(SerialLinkTest, OpenPortPostsExactlyOneOfItsThreeLines) {
    EXPECT_TRUE(link.OpenPort(job));
    EXPECT_EQ(LogLines(), std::vector<std::string>{pty.slavePath() + " initialized."});

    SerialLink other{header};
    EXPECT_FALSE(other.OpenPort(job)) << "held by the first link";
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Unable to open COM port!"});
    EXPECT_FALSE(other.IsPortOpen());

    JobParams missing = job;
    missing.strPort = "/dev/quillon-no-such-port";
    EXPECT_FALSE(other.OpenPort(missing));
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Unable to open COM port!"});

    JobParams notSerial = job;
    notSerial.strPort = "/dev/null";
    EXPECT_FALSE(other.OpenPort(notSerial));
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Error initializing COM port!"});
    EXPECT_TRUE(other.IsPortOpen()) << "a port that refused its settings stays open";
}

TEST_F(SerialLinkTest, OpeningAgainNeverHoldsTwoHandles) {
    ASSERT_TRUE(link.OpenPort(job));
    ASSERT_TRUE(link.OpenPort(job));
    int handles = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == pty.slavePath()) {
            ++handles;
        }
    }
    EXPECT_EQ(handles, 1);
    EXPECT_EQ(LogLines().size(), 2u);
}

TEST_F(SerialLinkTest, ExactCountLeavesTheRestForTheNextAnswer) {
    ASSERT_TRUE(link.OpenPort(job));
    pty.Send(hex_text::Ascending(9, 0x10));
    EXPECT_TRUE(link.WaitForResponse(1000, 7, false));
    EXPECT_EQ(BufferStart(7), hex_text::Ascending(7, 0x10));
    EXPECT_TRUE(link.WaitForResponse(1000, 2, false));
    EXPECT_EQ(BufferStart(2), hex_text::Ascending(2, 0x17));
    EXPECT_FALSE(link.WaitForResponse(50, 1, true));
    EXPECT_TRUE(debug.empty());
}

TEST_F(SerialLinkTest, ReadAllTakesAtMostOneBufferFull) {
    ASSERT_TRUE(link.OpenPort(job));
    const auto sent = hex_text::Ascending(2000, 0);
    pty.Send(sent);
    Settle();
    EXPECT_TRUE(link.WaitForResponse(1000, 1, true));
    EXPECT_EQ(BufferStart(1024), std::vector<std::uint8_t>(sent.begin(), sent.begin() + 1024));
    EXPECT_TRUE(link.WaitForResponse(1000, 976, false)) << "976 bytes stay queued";
    EXPECT_EQ(BufferStart(976), std::vector<std::uint8_t>(sent.begin() + 1024, sent.end()));
    EXPECT_FALSE(link.WaitForResponse(50, 1, false));
}

TEST_F(SerialLinkTest, TimeOutConsumesAPartialAnswerAndShowsItOnTheDebugChannel) {
    ASSERT_TRUE(link.OpenPort(job));
    EXPECT_FALSE(link.WaitForResponse(100, 1, true));
    EXPECT_TRUE(debug.empty()) << "nothing queued, nothing shown";

    pty.Send(std::vector<std::uint8_t>{0x0A, 0xB0, 0xFF});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(link.WaitForResponse(300, 7, false));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(295));
    EXPECT_EQ(debug, std::vector<std::string>{"WaitForResponse(): To few bytes, 0A, B0, FF"});
    EXPECT_EQ(BufferStart(3), (std::vector<std::uint8_t>{0x0A, 0xB0, 0xFF}));

    pty.Send(std::vector<std::uint8_t>{0x42});
    EXPECT_TRUE(link.WaitForResponse(1000, 1, true));
    EXPECT_EQ(link.buffer()[0], 0x42) << "the partial answer was consumed";
}

TEST_F(SerialLinkTest, AnswerThatCompletesDuringTheWaitIsTaken) {
    ASSERT_TRUE(link.OpenPort(job));
    std::thread peer([&] {
        pty.Send(std::vector<std::uint8_t>{'A', 'B', 'C'});
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.Send(std::vector<std::uint8_t>{'D', 'E', 'F', 'G', 'H'});
    });
    EXPECT_TRUE(link.WaitForResponse(3000, 7, false));
    peer.join();
    EXPECT_EQ(BufferStart(7), (std::vector<std::uint8_t>{'A', 'B', 'C', 'D', 'E', 'F', 'G'}));
    EXPECT_TRUE(link.WaitForResponse(100, 1, false));
    EXPECT_EQ(link.buffer()[0], 'H');
}

TEST_F(SerialLinkTest, DiscardInputDropsEverythingWaiting) {
    ASSERT_TRUE(link.OpenPort(job));
    pty.Send(hex_text::Ascending(3000, 0));
    Settle();
    link.DiscardInput();
    EXPECT_FALSE(link.WaitForResponse(50, 1, true));
    EXPECT_TRUE(debug.empty());
}

TEST_F(SerialLinkTest, WritesReachThePeerUnchanged) {
    ASSERT_TRUE(link.OpenPort(job));
    const std::uint8_t frame[] = {'P', '2', '0', '0', '6', '1', '2', '1'};
    link.WriteBytes(frame, sizeof frame);
    EXPECT_EQ(pty.Receive(8, 1000), std::vector<std::uint8_t>(frame, frame + 8));

    g_imageMemory.Clear();
    const auto image = hex_text::Ascending(300, 0x80);
    ASSERT_TRUE(g_imageMemory.Store(7, 0xFF00, image.data(), 256));
    link.WriteImageBytes(7, 0xFF00, 0x10000);
    EXPECT_EQ(pty.Receive(256, 2000),
              std::vector<std::uint8_t>(image.begin(), image.begin() + 256));
    link.WriteImageBytes(7, 0x10, 0x10);  // an empty stretch sends nothing
    EXPECT_TRUE(pty.Receive(1, 100).empty());
}

TEST_F(SerialLinkTest, WaitOnAPortThatHungUpEndsAsATimeOut) {
    ASSERT_TRUE(link.OpenPort(job));
    pty.Send(std::vector<std::uint8_t>{0x01, 0x02});
    EXPECT_FALSE(link.WaitForResponse(100, 7, false));
    EXPECT_EQ(debug, std::vector<std::string>{"WaitForResponse(): To few bytes, 01, 02"});
    pty.HangUp();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(link.WaitForResponse(5000, 7, false));
    EXPECT_FALSE(link.WaitForResponse(5000, 1, true));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_EQ(debug.size(), 1u);
}

TEST_F(SerialLinkTest, FlashTypesComeFromTheHeaderCopy) {
    header.flashTypeCount = 2;
    std::strcpy(header.flashTypes[0], "AM29");
    std::strcpy(header.flashTypes[1], "SST");
    EXPECT_TRUE(link.IsKnownFlashType("AM29"));
    EXPECT_TRUE(link.IsKnownFlashType("SST"));
    EXPECT_FALSE(link.IsKnownFlashType("sst"));
    EXPECT_FALSE(link.IsKnownFlashType("SST4"));
    header.flashTypeCount = 0;
    EXPECT_FALSE(link.IsKnownFlashType("AM29"));
}

}  // namespace
