#include "platform/serial_device.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <thread>
#include <vector>

#include "tests/support/win32_com_pair.h"

using namespace quillon;

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::uint8_t> EveryByteValue() {
    std::vector<std::uint8_t> bytes(256);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i);
    }
    return bytes;
}

// Collects `count` bytes from `device`, waiting at most `timeoutMs` in all.
std::vector<std::uint8_t> Collect(SerialDevice& device, std::size_t count,
                                  std::uint32_t timeoutMs) {
    device.WaitForInput(count, timeoutMs);
    std::vector<std::uint8_t> bytes(count);
    bytes.resize(device.Read(bytes.data(), count));
    return bytes;
}

double ThreadCpuMilliseconds() {
    FILETIME created, ended, kernel, user;
    ::GetThreadTimes(::GetCurrentThread(), &created, &ended, &kernel, &user);
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 10000.0;  // units of 100 ns
}

class Win32SerialDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { QUILLON_REQUIRE_COM_PAIR(pair); }
    Win32ComPair pair;
};

TEST_F(Win32SerialDeviceTest, OpensExistingPortsOnlyAndOnlyOnce) {
    SerialDevice first;
    // Port numbers of 10 and above are reached only through the \\.\ prefix.
    ASSERT_TRUE(first.Open(pair.port));
    EXPECT_TRUE(first.Configure({57600}));
    SerialDevice second;
    if (!RunningUnderWine()) {
        EXPECT_FALSE(second.Open(pair.port)) << "a port in use must not open twice";
        EXPECT_FALSE(second.IsOpen());
    }
    first.Close();
    EXPECT_TRUE(second.Open("\\\\.\\" + pair.port)) << "a name with the prefix is taken as it is";

    SerialDevice missing;
    EXPECT_FALSE(missing.Open("COM231"));
    EXPECT_FALSE(missing.IsOpen());
}

TEST_F(Win32SerialDeviceTest, SomethingThatIsNoSerialPortRefusesItsSettings) {
    SerialDevice device;
    ASSERT_TRUE(device.Open("NUL"));
    EXPECT_FALSE(device.Configure({57600}));
    EXPECT_TRUE(device.IsOpen()) << "the device stays open";
    EXPECT_EQ(device.QueuedInput(), 0u);
    EXPECT_FALSE(device.WaitForInput(1, 100));

    SerialDevice port;
    ASSERT_TRUE(port.Open(pair.port));
    for (std::uint32_t baud : {9600u, 19200u, 38400u, 57600u, 115200u}) {
        EXPECT_TRUE(port.Configure({baud})) << baud;
    }
}

TEST_F(Win32SerialDeviceTest, PassesEveryByteValueBothWaysInOrder) {
    SerialDevice port, peer;
    Win32ComPair::OpenClean(port, pair.port);
    Win32ComPair::OpenClean(peer, pair.peer);
    const auto sent = EveryByteValue();
    ASSERT_TRUE(port.Write(sent.data(), sent.size()));
    EXPECT_EQ(Collect(peer, 256, 2000), sent) << "no byte value is translated or swallowed";

    // Ten thousand bytes at once in the other direction: the count of queued bytes grows
    // past the first read, and reads of any size take them in order.
    std::vector<std::uint8_t> many(10000);
    for (std::size_t i = 0; i < many.size(); ++i) {
        many[i] = static_cast<std::uint8_t>(i * 7);
    }
    ASSERT_TRUE(peer.Write(many.data(), many.size()));
    ASSERT_TRUE(port.WaitForInput(many.size(), 5000));
    EXPECT_EQ(port.QueuedInput(), many.size());
    std::vector<std::uint8_t> got(many.size());
    EXPECT_EQ(port.Read(got.data(), 3), 3u);
    EXPECT_EQ(port.QueuedInput(), many.size() - 3);
    EXPECT_EQ(port.Read(got.data() + 3, many.size()), many.size() - 3);
    EXPECT_EQ(got, many);
    EXPECT_EQ(port.QueuedInput(), 0u);
}

TEST_F(Win32SerialDeviceTest, WaitBlocksWithoutCpuAndWakesWithTheBytes) {
    SerialDevice port, peer;
    Win32ComPair::OpenClean(port, pair.port);
    Win32ComPair::OpenClean(peer, pair.peer);

    const double cpuBefore = ThreadCpuMilliseconds();
    auto start = Clock::now();
    EXPECT_FALSE(port.WaitForInput(1, 400));
    const auto waited = Clock::now() - start;
    const double cpu = ThreadCpuMilliseconds() - cpuBefore;
    EXPECT_GE(waited, std::chrono::milliseconds(380));
    EXPECT_LT(waited, std::chrono::milliseconds(2000));
    EXPECT_LT(cpu, 100.0) << "a wait must block, not poll";

    // Bytes that arrive in two pieces during the wait end it as soon as all are there.
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::uint8_t first[] = {1, 2, 3};
        EXPECT_TRUE(peer.Write(first, sizeof first));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::uint8_t second[] = {4, 5, 6, 7, 8};
        EXPECT_TRUE(peer.Write(second, sizeof second));
    });
    start = Clock::now();
    EXPECT_TRUE(port.WaitForInput(7, 5000));
    const auto woke = Clock::now() - start;
    sender.join();
    EXPECT_GE(woke, std::chrono::milliseconds(150));
    EXPECT_LT(woke, std::chrono::milliseconds(1500));
    EXPECT_EQ(Collect(port, 8, 1000), (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(Win32SerialDeviceTest, ClosedDeviceHasNothingAndTakesNothing) {
    SerialDevice device;
    Win32ComPair::OpenClean(device, pair.port);
    device.Close();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.QueuedInput(), 0u);
    const std::uint8_t byte = 0x55;
    EXPECT_FALSE(device.Write(&byte, 1));
    EXPECT_FALSE(device.WaitForInput(1, 50));
    EXPECT_FALSE(device.Configure({57600}));
}

}  // namespace
