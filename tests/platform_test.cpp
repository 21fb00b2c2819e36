#include <gtest/gtest.h>

#ifndef _WIN32
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "helpers/text_format.h"
#include "platform/append_only_file.h"
#include "platform/baud_rate.h"
#include "platform/lock_wait.h"
#include "platform/regular_file.h"
#include "platform/standard_streams.h"
#include "tests/support/test_files.h"
#include "tests/support/virtual_line.h"

using namespace quillon;

namespace {

// A lock held by another program is tried again on the given clock until it is taken, the
// patience has passed or the stop comes; a try that fails otherwise ends the wait at once.
TEST(LockWaitTest, TriesUntilTakenOrThePatienceOrTheStop) {
    struct Case {
        const char* name;
        int freeAfterTries;  // -1: never
        int stopAfterTries;  // -1: never
        bool tryFails;
        ErrorKind kind;  // kFailed: taken
        std::uint64_t endsAtMs;
    };
    const Case cases[] = {
        {"taken at once", 0, -1, false, ErrorKind::kFailed, 0},
        {"taken on the third try", 2, -1, false, ErrorKind::kFailed, 10},
        {"held for the whole patience", -1, -1, false, ErrorKind::kBusy, 10000},
        {"stopped while held", -1, 3, false, ErrorKind::kAborted, 10},
        {"no lock on this file system", -1, -1, true, ErrorKind::kIo, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualClock clock;
        int tries = 0;
        const Status locked = WaitForLock(
            [&]() -> Result<bool> {
                if (c.tryFails) {
                    return Fail(ErrorKind::kIo, "cannot be locked");
                }
                ++tries;
                return c.freeAfterTries >= 0 && tries > c.freeAfterTries;
            },
            std::chrono::seconds(10),
            [&] { return c.stopAfterTries >= 0 && tries >= c.stopAfterTries; }, clock, "held");
        EXPECT_EQ(locked ? ErrorKind::kFailed : locked.error().kind, c.kind);
        EXPECT_EQ(clock.NowMs(), c.endsAtMs);
    }
}

TEST(BaudRateTest, OnlyTheOfferedRatesByTheirDecimalText) {
    for (const BaudRate rate : kBaudRates) {
        EXPECT_EQ(OfferedBaudRate(BaudRateText(rate)), rate);
    }
    for (const char* text : {"", "0", "12345", "057600", "57600 ", "230400", "-9600"}) {
        EXPECT_FALSE(OfferedBaudRate(text)) << text;
    }
    EXPECT_EQ(BaudRateText(kDefaultBaudRate), "57600");
}

TEST(BaudRateTest, AnyDecimalRateWithinTheBounds) {
    const std::pair<const char*, std::optional<std::uint32_t>> cases[] = {
        {"300", 300},
        {"4000000", 4000000},
        {"250000", 250000},
        {"12345", 12345},
        {"299", std::nullopt},
        {"4000001", std::nullopt},
        {"0", std::nullopt},
        {"", std::nullopt},
        {"+9600", std::nullopt},
        {"9600 ", std::nullopt},
        {"0x2580", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& [text, rate] : cases) {
        const std::optional<BaudRate> parsed = ParseBaudRate(text);
        EXPECT_EQ(parsed ? std::optional(parsed->bitsPerSecond) : std::nullopt, rate) << text;
    }
}

TEST(BaudRateTest, ARateSetCountsWithinOnePercentOfTheOneAsked) {
    const struct {
        std::uint32_t asked, set;
        bool close;
    } cases[] = {
        {115200, 115200, true},   {250000, 247500, true},  {250000, 252500, true},
        {250000, 247499, false},  {250000, 252501, false}, {1000000, 0, false},
        {921600, 1000000, false},
    };
    for (const auto& c : cases) {
        const Status checked = CheckBaudRateSet({c.asked}, c.set);
        EXPECT_EQ(checked.has_value(), c.close) << c.asked << " " << c.set;
        if (!checked) {
            EXPECT_EQ(checked.error().text, "baud rate " + std::to_string(c.asked) + " asked, " +
                                                std::to_string(c.set) + " set");
        }
    }
}

TEST(TextFormatTest, FormatsShortAndLongTexts) {
    EXPECT_EQ(FormatText("Wrong answer (Set 0x%02X::Act 0x%02X)!", 0xC5u, 0x0Au),
              "Wrong answer (Set 0xC5::Act 0x0A)!");
    const std::string longName(1000, 'n');
    EXPECT_EQ(FormatText("%s initialized.", longName.c_str()), longName + " initialized.");
}

TEST(TextFormatTest, Cp1252BytesBecomeUtf8) {
    EXPECT_EQ(Cp1252ToUtf8('G'), "G");
    EXPECT_EQ(Cp1252ToUtf8(0xE4), "ä");
    EXPECT_EQ(Cp1252ToUtf8(0x80), "€");
    EXPECT_EQ(Cp1252ToUtf8(0x81), "\xEF\xBF\xBD");
    EXPECT_EQ(Cp1252ToUtf8(0x00), "");
}

TEST(TextFormatTest, DecimalNumbersWithinTheirRangeOnly) {
    const std::pair<const char*, std::optional<std::int64_t>> rows[] = {
        {"1", 1},
        {"86400", 86400},
        {"007", 7},
        {"0", std::nullopt},
        {"86401", std::nullopt},
        {"+5", std::nullopt},
        {" 5", std::nullopt},
        {"5 ", std::nullopt},
        {"5x", std::nullopt},
        {"", std::nullopt},
        {"-1", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& [text, value] : rows) {
        EXPECT_EQ(DecimalInRange(text, 1, 86400), value) << text;
    }
}

TEST(TextFormatTest, EscapeForTerminalShowsControlAndStrayBytes) {
    const struct {
        std::string in;
        bool keepLineBreaks;
        std::string out;
    } cases[] = {
        {"Board A \xC3\xA4\xE2\x82\xAC", false, "Board A \xC3\xA4\xE2\x82\xAC"},  // UTF-8 stays
        {"a\tb\nc\x1B[2J\x7F", false, "a\\x09b\\x0Ac\\x1B[2J\\x7F"},
        {"line\nnext\r", true, "line\nnext\\x0D"},
        {"\xC2\x9B"
         "1m",
         false, "\\xC2\\x9B1m"},                                       // a C1 control in UTF-8
        {"\xFF\xC3(\xE2\x82", false, "\\xFF\\xC3(\\xE2\\x82"},         // not UTF-8, cut short
        {"\xC0\xAF\xED\xA0\x80", false, "\\xC0\\xAF\\xED\\xA0\\x80"},  // overlong, surrogate
        {std::string("n\0ul", 4), false, "n\\x00ul"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeForTerminal(c.in, c.keepLineBreaks), c.out) << c.in;
    }
}

#ifndef _WIN32
// In a child process: closes `closeMask`'s descriptors, and checks that EnsureStandardStreams
// reports exactly those and leaves 0, 1 and 2 on the null device before anything else opens.
TEST(StandardStreamsTest, ClosedOnesAreOpenedOnTheNullDevice) {
    for (const int closeMask : {0, 1, 2, 4, 6, 7}) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int fd = 0; fd <= 2; ++fd) {
                if ((closeMask & (1 << fd)) != 0) {
                    close(fd);
                }
            }
            int failures = EnsureStandardStreams() == closeMask ? 0 : 1;
            struct stat null {};
            stat("/dev/null", &null);
            for (int fd = 0; fd <= 2; ++fd) {
                struct stat st {};
                const bool onNull = fstat(fd, &st) == 0 && st.st_rdev == null.st_rdev;
                failures += (closeMask & (1 << fd)) != 0 && !onNull ? 2 : 0;
            }
            const int next = open("/dev/null", O_RDONLY);
            _exit(failures + (next > 2 ? 0 : 8));
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "closed mask " << closeMask;
    }
}
#endif

}  // namespace

// Whatever a name turns out to be, reading it whole ends at once with its content or a reason,
// and never holds more than the bound in memory.
TEST(RegularFileTest, OnlyARegularFileWithinItsBoundIsRead) {
    const TempDir dir;
    const auto at = [&](const char* name) { return (dir.path() / name).string(); };
    dir.Write("small", "12345");
    dir.Write("empty", "");
    std::filesystem::create_directory(at("folder"));
    struct Case {
        std::string path;
        std::size_t limit;
        std::optional<ErrorKind> error;  // none: read
        std::string contentOrReason;
    };
    std::vector<Case> cases = {
        {at("small"), 5, std::nullopt, "12345"},
        {at("small"), 4, ErrorKind::kTooLarge, "is larger than 4 bytes"},
        {at("empty"), 0, std::nullopt, ""},
        {at("missing"), 10, ErrorKind::kNotFound, "does not exist"},
        {at("folder"), 10, ErrorKind::kUnsupported, "is a folder"},
    };
#ifndef _WIN32
    // A FIFO without a writer, a device that never ends, a link to either, a sparse giant.
    ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", at("zero"));
    std::filesystem::create_symlink(at("fifo"), at("fifo-link"));
    {
        const int fd = ::open(at("sparse").c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 3LL << 30), 0);
        ::close(fd);
    }
    cases.push_back({at("fifo"), 1 << 20, ErrorKind::kUnsupported, "is not a regular file"});
    cases.push_back({at("fifo-link"), 1 << 20, ErrorKind::kUnsupported, "is not a regular file"});
    cases.push_back({at("zero"), 1 << 20, ErrorKind::kUnsupported, "is not a regular file"});
    cases.push_back({at("sparse"), 64 << 20, ErrorKind::kTooLarge, "is larger than 64 MiB"});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const FileRead result = ReadRegularFile(c.path, c.limit);
        EXPECT_EQ(result ? std::nullopt : std::optional(result.error().kind), c.error);
        EXPECT_EQ(result ? result->bytes : result.error().text, c.contentOrReason);
    }
    EXPECT_EQ(ByteCountText(1 << 20), "1 MiB");
    EXPECT_EQ(ByteCountText(1), "1 byte");
}

#ifndef _WIN32
namespace {

// The C library's flock and fsync, as the record file's appends meet them, made to fail at
// will: a file system without locks, a flush that fails.
int g_flockError = 0;
std::function<int()> g_fsyncFault;  // the error to fail with (0: none), after what it does

}  // namespace

extern "C" int flock(int fd, int operation) {
    if (g_flockError != 0) {
        errno = g_flockError;
        return -1;
    }
    static const auto real = reinterpret_cast<int (*)(int, int)>(dlsym(RTLD_NEXT, "flock"));
    return real(fd, operation);
}

extern "C" int fsync(int fd) {
    if (const int error = g_fsyncFault ? g_fsyncFault() : 0; error != 0) {
        errno = error;
        return -1;
    }
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}

namespace {

// A record line is written under the lock or not at all, and a failed one is taken back only as
// far as its own start and only while nothing stands behind it: another station's line stays.
TEST(AppendOnlyFileTest, NoLineWithoutTheLockAndNoOtherLineCutAway) {
    const TempDir dir;
    const std::string path = dir.Write("record.jsonl", "first\n");
    const auto append = [&path](const char* text) {
        std::ofstream(path, std::ios::app) << text;
        return 0;
    };
    struct Case {
        const char* name;
        int flockError;
        std::function<int()> fsyncFault;
        std::string error;  // how the reason begins
        std::string after;  // the file afterwards
    };
    const std::vector<Case> cases = {
        {"no locks on this file system", ENOLCK, nullptr,
         "the file cannot be locked: No locks available", "first\n"},
        {"the flush fails", 0, [] { return EIO; }, "Input/output error", "first\n"},
        {"the flush fails after another program's line came behind it", 0,
         [&] { return append("other\n"), EIO; },
         "Input/output error; the part written stays, since the file has grown behind it",
         "first\nboard\nother\n"},
        {"all well", 0, nullptr, "", "first\nboard\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(path, std::ios::trunc) << "first\n";
        AppendOnlyFile record;
        const Status opened = record.Open(path);
        ASSERT_TRUE(opened) << opened.error().text;
        g_flockError = c.flockError;
        g_fsyncFault = c.fsyncFault;
        const Status appended = record.Append("board\n");
        g_flockError = 0;
        g_fsyncFault = nullptr;
        EXPECT_EQ(appended.has_value(), c.error.empty());
        EXPECT_EQ(appended ? "" : appended.error().text, c.error);
        std::ifstream in(path, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.after);
    }
}

// The lines behind an offset come piece by piece; one longer than any record line is passed
// over instead of filling the memory, and so is a last line without its end.
TEST(AppendOnlyFileTest, ScannedLinesAreBounded) {
    const TempDir dir;
    const std::string longLine(AppendOnlyFile::kLongestScannedLine + 1, 'x');
    const std::string path =
        dir.Write("record.jsonl", "old\na\n" + longLine + "\nb\n" + longLine.substr(1) + "\ntail");
    AppendOnlyFile record;
    const Status opened = record.Open(path);
    ASSERT_TRUE(opened) << opened.error().text;
    std::vector<std::string> lines;
    record.ScanLinesFrom(4, [&lines](const std::string& line) { lines.push_back(line); });
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", longLine.substr(1)}));
}

}  // namespace
#endif
