#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "image/image_memory.h"
#include "link/serial_link.h"
#include "platform/debug_channel.h"
#include "platform/message_queue.h"
#include "tests/support/hex_text.h"
#include "tests/support/posted_messages.h"
#include "tests/support/win32_com_pair.h"

// The serial link over the Win32 serial backend, against the other end of a COM port pair.

namespace {

class Win32SerialLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUILLON_REQUIRE_COM_PAIR(pair);
        job.hWndOwner = &owner;
        job.strPort = pair.port;
        job.nBaudRate = 57600;
        m_previousDebug =
            SetDebugTextHandler([this](const std::string& text) { debug.push_back(text); });
        Win32ComPair::OpenClean(peer, pair.peer);
    }
    void TearDown() override {
        SetDebugTextHandler(m_previousDebug);
        DiscardAll(owner);
    }

    std::vector<std::string> LogLines() { return TakeLogLines(owner); }

    // Opens the link's port and drops what an earlier test left on the line.
    void OpenLink() {
        ASSERT_TRUE(link.OpenPort(job));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        link.DiscardInput();
        LogLines();
    }

    void Send(const std::vector<std::uint8_t>& bytes) {
        ASSERT_TRUE(peer.Write(bytes.data(), bytes.size()));
    }

    // Waits until the other end's bytes have surely arrived.
    static void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }

    std::vector<std::uint8_t> BufferStart(std::size_t count) {
        return std::vector<std::uint8_t>(link.buffer(), link.buffer() + count);
    }

    Win32ComPair pair;
    SerialDevice peer;
    MessageQueue owner;
    JobParams job;
    MonitorHeader header{};
    SerialLink link{header};
    std::vector<std::string> debug;

private:
    DebugTextHandler m_previousDebug;
};

TEST_F(Win32SerialLinkTest, OpenPortPostsExactlyOneOfItsThreeLines) {
    EXPECT_TRUE(link.OpenPort(job));
    EXPECT_EQ(LogLines(), std::vector<std::string>{pair.port + " initialized."});
    EXPECT_TRUE(link.OpenPort(job)) << "opening again first closes the port held";
    EXPECT_EQ(LogLines(), std::vector<std::string>{pair.port + " initialized."});

    SerialLink other{header};
    JobParams missing = job;
    missing.strPort = "COM231";
    EXPECT_FALSE(other.OpenPort(missing));
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Unable to open COM port!"});
    EXPECT_FALSE(other.IsPortOpen());
    if (!RunningUnderWine()) {
        EXPECT_FALSE(other.OpenPort(job)) << "held by the first link";
        EXPECT_EQ(LogLines(), std::vector<std::string>{"Unable to open COM port!"});
    }

    JobParams notSerial = job;
    notSerial.strPort = "NUL";
    EXPECT_FALSE(other.OpenPort(notSerial));
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Error initializing COM port!"});
    EXPECT_TRUE(other.IsPortOpen()) << "a port that refused its settings stays open";
}

TEST_F(Win32SerialLinkTest, ExactCountLeavesTheRestAndReadAllTakesOneBufferFull) {
    OpenLink();
    Send(hex_text::Ascending(9, 0x10));
    EXPECT_TRUE(link.WaitForResponse(1000, 7, false));
    EXPECT_EQ(BufferStart(7), hex_text::Ascending(7, 0x10));
    EXPECT_TRUE(link.WaitForResponse(1000, 2, false));
    EXPECT_EQ(BufferStart(2), hex_text::Ascending(2, 0x17));

    const auto sent = hex_text::Ascending(2000, 0);
    Send(sent);
    Settle();
    EXPECT_TRUE(link.WaitForResponse(1000, 1, true));
    EXPECT_EQ(BufferStart(1024), std::vector<std::uint8_t>(sent.begin(), sent.begin() + 1024));
    EXPECT_TRUE(link.WaitForResponse(1000, 976, false)) << "976 bytes stay queued";
    EXPECT_EQ(BufferStart(976), std::vector<std::uint8_t>(sent.begin() + 1024, sent.end()));
    EXPECT_FALSE(link.WaitForResponse(50, 1, false));
    EXPECT_TRUE(debug.empty());
}

TEST_F(Win32SerialLinkTest, TimeOutConsumesAPartialAnswerAndShowsItOnTheDebugChannel) {
    OpenLink();
    EXPECT_FALSE(link.WaitForResponse(100, 1, true));
    EXPECT_TRUE(debug.empty()) << "nothing queued, nothing shown";

    Send({0x0A, 0xB0, 0xFF});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(link.WaitForResponse(300, 7, false));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
    EXPECT_EQ(debug, std::vector<std::string>{"WaitForResponse(): To few bytes, 0A, B0, FF"});

    Send({0x42});
    EXPECT_TRUE(link.WaitForResponse(1000, 1, true));
    EXPECT_EQ(link.buffer()[0], 0x42) << "the partial answer was consumed";
}

TEST_F(Win32SerialLinkTest, WritesAndDiscardsReachTheLine) {
    OpenLink();
    const std::uint8_t frame[] = {'P', '2', '0', '0', '6', '1', '2', '1'};
    link.WriteBytes(frame, sizeof frame);
    ASSERT_TRUE(peer.WaitForInput(8, 2000));
    std::uint8_t got[8] = {};
    EXPECT_EQ(peer.Read(got, sizeof got), 8u);
    EXPECT_EQ(std::vector<std::uint8_t>(got, got + 8), std::vector<std::uint8_t>(frame, frame + 8));

    g_imageMemory.Clear();
    const auto image = hex_text::Ascending(256, 0x80);
    ASSERT_TRUE(g_imageMemory.Store(7, 0xFF00, image.data(), image.size()));
    link.WriteImageBytes(7, 0xFF00, 0x10000);
    ASSERT_TRUE(peer.WaitForInput(256, 3000));
    std::vector<std::uint8_t> bytes(256);
    EXPECT_EQ(peer.Read(bytes.data(), bytes.size()), 256u);
    EXPECT_EQ(bytes, image);

    Send(hex_text::Ascending(3000, 0));
    Settle();
    link.DiscardInput();
    EXPECT_FALSE(link.WaitForResponse(50, 1, true));
    EXPECT_TRUE(debug.empty());
}

}  // namespace
