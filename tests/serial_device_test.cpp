#include "platform/serial_device.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/line_speed_posix.h"
#include "tests/support/pty_pair.h"
#include "tests/support/test_files.h"

using namespace quillon;

namespace {

using Clock = std::chrono::steady_clock;

long long ThreadCpuMicroseconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

// True when the thread whose /proc stat file is `statPath` sleeps in a wait of the kernel.
bool ThreadIsAsleep(const std::string& statPath) {
    std::ifstream stat(statPath);
    std::string line;
    std::getline(stat, line);
    const std::size_t nameEnd = line.rfind(") ");
    return nameEnd != std::string::npos && nameEnd + 2 < line.size() && line[nameEnd + 2] == 'S';
}

TEST(SerialDeviceTest, OpensOnlyWhatExistsAndOnlyOnce) {
    PtyPair pty;
    SerialDevice first;
    ASSERT_TRUE(first.Open(pty.slavePath()));
    EXPECT_TRUE(first.Configure({57600}));
    SerialDevice second;
    EXPECT_FALSE(second.Open(pty.slavePath())) << "a port in use must not open twice";
    first.Close();
    EXPECT_TRUE(second.Open(pty.slavePath()));

    TempDir dir;
    SerialDevice missing;
    EXPECT_FALSE(missing.Open((dir.path() / "ttyNothing").string()));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "ttyNothing")) << "open must not create";
}

// A device this user may not open gets a hint; one that is missing or that can be opened gets
// none. The locked device is the test user's own (or, run as root, root's seen by another
// user): no group can help, so the hint names owner, group and mode for the administrator.
TEST(SerialDeviceTest, PermissionHintOnlyForADeviceThisUserMayNotOpen) {
    TempDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
    const std::string locked = dir.Write("ttyLocked", "");
    ::chmod(locked.c_str(), 0);
    const std::string open = dir.Write("ttyOpen", "");
    ::chmod(open.c_str(), 0666);
    struct stat info {};
    ASSERT_EQ(::stat(locked.c_str(), &info), 0);
    const passwd* owner = ::getpwuid(info.st_uid);
    const group* deviceGroup = ::getgrgid(info.st_gid);
    ASSERT_TRUE(owner != nullptr && deviceGroup != nullptr);
    const std::string expected = "Permission denied for " + locked + " (owner " + owner->pw_name +
                                 ", group " + deviceGroup->gr_name +
                                 ", mode ----------): ask the administrator for read and write "
                                 "access.";
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(9);
        }
        const bool ok = SerialPortPermissionHint(locked) == expected &&
                        SerialPortPermissionHint(open).empty() &&
                        SerialPortPermissionHint(locked + "-missing").empty();
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << expected;
}

// Joining the group is advised only where it helps and hands out nothing more: the group may
// read and write, it is not root's, the user is not its owner and not in it yet. A user in it
// whose session is not is told to log in again; everything else goes to the administrator.
TEST(SerialDeviceTest, PermissionAdviceJoinsOnlyAGroupThatHelps) {
    const std::string join =
        "Permission denied for /dev/ttyUSB0: add your user to the group "
        "'dialout' and log in again.";
    const std::string relogin =
        "Permission denied for /dev/ttyUSB0: your user is in the group "
        "'dialout' but this session is not yet; log in again.";
    const auto admin = [](const std::string& group, const std::string& mode) {
        return "Permission denied for /dev/ttyUSB0 (owner root, group " + group + ", mode " + mode +
               "): ask the administrator for read and write access.";
    };
    struct Case {
        std::uint32_t mode;
        std::string group;
        std::uint32_t gid;
        bool owner, groupRw, inDatabase, inProcess;
        std::string advice;
    };
    const Case cases[] = {
        {S_IFCHR | 0660, "dialout", 20, false, true, false, false, join},
        {S_IFCHR | 0660, "dialout", 20, false, true, true, false, relogin},
        {S_IFCHR | 0660, "dialout", 20, false, true, true, true, admin("dialout", "crw-rw----")},
        {S_IFCHR | 0660, "dialout", 20, false, true, false, true, admin("dialout", "crw-rw----")},
        {S_IFCHR | 0640, "dialout", 20, false, false, false, false, admin("dialout", "crw-r-----")},
        {S_IFCHR | 0600, "root", 0, false, false, false, false, admin("root", "crw-------")},
        {S_IFCHR | 0660, "root", 0, false, true, false, false, admin("root", "crw-rw----")},
        {S_IFCHR | 0066, "dialout", 20, true, true, false, false, admin("dialout", "c---rw-rw-")},
        {S_IFCHR | 04601, "dialout", 20, false, false, false, false,
         admin("dialout", "crwS-----x")},
    };
    for (const Case& c : cases) {
        SerialPortAccess access;
        access.mode = c.mode;
        access.ownerName = "root";
        access.groupName = c.group;
        access.gid = c.gid;
        access.userIsOwner = c.owner;
        access.groupMayReadWrite = c.groupRw;
        access.userInGroupDatabase = c.inDatabase;
        access.userInGroupNow = c.inProcess;
        EXPECT_EQ(SerialPortPermissionAdvice("/dev/ttyUSB0", access), c.advice);
    }
}

TEST(SerialDeviceTest, SomethingThatIsNoSerialDeviceRefusesItsSettings) {
    TempDir dir;
    const std::string file = dir.Write("plain.txt", "not a port");
    for (const std::string& path : {file, std::string("/dev/null")}) {
        SerialDevice device;
        ASSERT_TRUE(device.Open(path)) << path;
        EXPECT_FALSE(device.Configure({57600})) << path;
        EXPECT_TRUE(device.IsOpen());
    }
    PtyPair pty;
    SerialDevice device;
    ASSERT_TRUE(device.Open(pty.slavePath()));
    for (std::uint32_t baud : {9600u, 19200u, 38400u, 57600u, 115200u}) {
        EXPECT_TRUE(device.Configure({baud})) << baud;
    }
}

// Any rate is set, standard or not, and it holds through the waits that change the other
// settings: a pseudo-terminal keeps what it is given, as the host's end reads it back.
TEST(SerialDeviceTest, SetsAnyRateAndItStays) {
    PtyPair pty;
    SerialDevice device;
    ASSERT_TRUE(device.Open(pty.slavePath()));
    for (const std::uint32_t baud : {250000u, 1000000u, 300u, 4000000u, 115200u, 12345u}) {
        ASSERT_TRUE(device.Configure({baud})) << baud;
        EXPECT_FALSE(device.WaitForInput(3, 1));  // raises the wake-up count and lowers it
        const Result<std::uint32_t> held = LineSpeed(pty.masterFd());
        ASSERT_TRUE(held);
        EXPECT_EQ(*held, baud);
    }
}

TEST(SerialDeviceTest, PassesEveryByteValueUnchanged) {
    PtyPair pty;
    SerialDevice device;
    ASSERT_TRUE(device.Open(pty.slavePath()));
    ASSERT_TRUE(device.Configure({115200}));
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i) {
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }
    ASSERT_TRUE(device.Write(all.data(), all.size()));
    EXPECT_EQ(pty.Receive(256, 2000), all);

    pty.Send(all);
    ASSERT_TRUE(device.WaitForInput(256, 2000));
    std::vector<std::uint8_t> back(256);
    EXPECT_EQ(device.Read(back.data(), back.size()), 256u);
    EXPECT_EQ(back, all);
}

TEST(SerialDeviceTest, WaitEndsWhenEnoughBytesArriveInPieces) {
    PtyPair pty;
    SerialDevice device;
    ASSERT_TRUE(device.Open(pty.slavePath()));
    ASSERT_TRUE(device.Configure({57600}));
    // Each piece is sent once the waiting thread is asleep in the kernel, so every one of
    // them arrives while it waits.
    const std::string waiterState = "/proc/self/task/" + std::to_string(::gettid()) + "/stat";
    std::thread peer([&] {
        for (int i = 0; i < 7; ++i) {
            while (!ThreadIsAsleep(waiterState)) {
                std::this_thread::yield();
            }
            pty.Send(std::vector<std::uint8_t>{static_cast<std::uint8_t>(i)});
        }
    });
    const long long cpuBefore = ThreadCpuMicroseconds();
    EXPECT_TRUE(device.WaitForInput(7, 3000));
    const long long cpu = ThreadCpuMicroseconds() - cpuBefore;
    peer.join();
    EXPECT_EQ(device.QueuedInput(), 7u);
    // 140 ms of trickling input must not keep the thread busy (a polling loop would burn it all).
    EXPECT_LT(cpu, 50000) << "µs of CPU while waiting";
}

// A wait for more bytes than come ends at its deadline with those that came to be read; the
// driver is then asked to report single bytes again, so the next wait for one sees one.
TEST(SerialDeviceTest, WaitForMoreThanComesThenForOne) {
    PtyPair pty;
    SerialDevice device;
    ASSERT_TRUE(device.Open(pty.slavePath()));
    ASSERT_TRUE(device.Configure({57600}));
    pty.Send(std::vector<std::uint8_t>{1, 2, 3});
    EXPECT_FALSE(device.WaitForInput(5, 200));
    EXPECT_EQ(device.QueuedInput(), 3u);
    std::uint8_t got[3] = {};
    EXPECT_EQ(device.Read(got, 3), 3u);
    pty.Send(std::vector<std::uint8_t>{4});
    EXPECT_TRUE(device.WaitForInput(1, 500)) << "the driver still waits for more than one byte";
}

TEST(SerialDeviceTest, SilenceEndsAtTheDeadlineWithoutBurningTheCpu) {
    PtyPair pty;
    SerialDevice device;
    ASSERT_TRUE(device.Open(pty.slavePath()));
    ASSERT_TRUE(device.Configure({57600}));
    const auto start = Clock::now();
    const long long cpuBefore = ThreadCpuMicroseconds();
    EXPECT_FALSE(device.WaitForInput(1, 300));
    const long long cpu = ThreadCpuMicroseconds() - cpuBefore;
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(295));
    EXPECT_LT(cpu, 50000) << "µs of CPU while waiting";
}

TEST(SerialDeviceTest, VanishedDeviceEndsTheWaitAndCanBeOpenedAgainOnceBack) {
    TempDir dir;
    const auto link = dir.path() / "ttyUSB-test";
    auto pty = std::make_unique<PtyPair>();
    std::filesystem::create_symlink(pty->slavePath(), link);

    SerialDevice device;
    ASSERT_TRUE(device.Open(link.string()));
    ASSERT_TRUE(device.Configure({57600}));
    pty->Send(std::vector<std::uint8_t>{0x41});
    ASSERT_TRUE(device.WaitForInput(1, 1000));
    pty->HangUp();  // the adapter is pulled

    const auto start = Clock::now();
    const long long cpuBefore = ThreadCpuMicroseconds();
    EXPECT_FALSE(device.WaitForInput(2, 2000));
    EXPECT_LT(ThreadCpuMicroseconds() - cpuBefore, 50000);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_TRUE(device.IsGone());
    EXPECT_EQ(device.QueuedInput(), 1u) << "what arrived before the hang-up can still be read";
    std::uint8_t byte = 0;
    const std::uint8_t out = 0x55;
    EXPECT_EQ(device.Read(&byte, 1), 1u);
    EXPECT_EQ(byte, 0x41);
    EXPECT_FALSE(device.Write(&out, 1));

    // The adapter comes back under the same name.
    auto replugged = std::make_unique<PtyPair>();
    std::filesystem::remove(link);
    std::filesystem::create_symlink(replugged->slavePath(), link);
    ASSERT_TRUE(device.Open(link.string()));
    ASSERT_TRUE(device.Configure({57600}));
    EXPECT_FALSE(device.IsGone());
    replugged->Send(std::vector<std::uint8_t>{1, 2});
    EXPECT_TRUE(device.WaitForInput(2, 1000));
}

}  // namespace
