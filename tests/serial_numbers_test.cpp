// Serial numbers: their formats, the place in the image they go to, and the counter and list
// files they come from, with other processes taking from the same files.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "link/download_job.h"
#include "platform/regular_file.h"
#include "serial_numbers/serial_counter.h"
#include "serial_numbers/serial_format.h"
#include "serial_numbers/serial_list.h"
#include "serial_numbers/serial_patch.h"
#include "serial_numbers/serial_text_file.h"
#include "tests/support/test_files.h"

#ifdef _WIN32
#include <mutex>
#include <thread>

#include "platform/locked_file.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace quillon;

namespace {

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        text += "0123456789ABCDEF"[byte >> 4];
        text += "0123456789ABCDEF"[byte & 15];
    }
    return text;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(SerialFormatTest, WritesEachFormatAndRefusesWhatDoesNotFit) {
    struct Case {
        const char* format;
        std::uint64_t value;
        const char* bytes;  // hex, or empty when refused
        const char* text;   // as the record shows it, or the refusal
    };
    const std::vector<Case> cases = {
        {"dec:6", 42, "303030303432", "000042"},
        {"dec:6", 999999, "393939393939", "999999"},
        {"dec:6", 1000000, "", "serial number 1000000 does not fit dec:6"},
        {"dec:20", UINT64_MAX, "3138343436373434303733373039353531363135", "18446744073709551615"},
        {"hex:4", 0xBEEF, "42454546", "BEEF"},
        {"hex:4", 0x10000, "", "serial number 65536 does not fit hex:4"},
        {"le:2", 0x1234, "3412", "0x1234"},
        {"le:2", 0x10000, "", "serial number 65536 does not fit le:2"},
        {"be:3", 0x123456, "123456", "0x123456"},
        {"be:3", 0x1000000, "", "serial number 16777216 does not fit be:3"},
        {"be:1", 0, "00", "0x00"},
        {"le:8", UINT64_MAX, "FFFFFFFFFFFFFFFF", "0xFFFFFFFFFFFFFFFF"},
        {"be:6", 0x0012A3000001, "0012A3000001", "0x0012A3000001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.value));
        const Result<SerialFormat> format = SerialFormat::Parse(c.format);
        ASSERT_TRUE(format) << format.error().text;
        EXPECT_EQ(format->Name(), c.format);
        const Result<SerialFormat::Written> written = format->Write(c.value);
        EXPECT_EQ(written ? Hex(written->bytes) : "", c.bytes);
        EXPECT_EQ(written ? written->text : written.error().text, c.text);
        if (written) {
            EXPECT_EQ(written->bytes.size(), format->size());
        }
    }
    for (const char* wrong : {"dec:0", "dec:21", "hex:17", "le:9", "be:0", "le:", "oct:4", "dec:6x",
                              "DEC:6", "dec:-1", ""}) {
        const Result<SerialFormat> format = SerialFormat::Parse(wrong);
        ASSERT_FALSE(format) << wrong;
        EXPECT_NE(format.error().text.find(std::string("serial format ")), std::string::npos)
            << wrong;
    }
}

TEST(SerialFormatTest, ValuesAreDecimalOrHex) {
    const std::vector<std::pair<const char*, std::optional<std::uint64_t>>> cases = {
        {"42", 42},
        {" 42 \r\n", 42},
        {"0x2A", 42},
        {"0X2a", 42},
        {"007", 7},
        {"18446744073709551615", UINT64_MAX},
        {"0xFFFFFFFFFFFFFFFF", UINT64_MAX},
        {"18446744073709551616", std::nullopt},
        {"0x10000000000000000", std::nullopt},
        {"", std::nullopt},
        {"0x", std::nullopt},
        {"-1", std::nullopt},
        {"4 2", std::nullopt},
        {"2A", std::nullopt},
        {"1e3", std::nullopt},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(ParseSerialValue(text), value) << "'" << text << "'";
    }
}

// The file's image at the number's place: erased, or the placeholder, else refused, naming the
// address and what the file holds there.
TEST(SerialPatchTest, ThePlaceMustBeErasedOrHoldThePlaceholder) {
    const std::string refusal =
        ", where the serial number goes: the place must be erased (FF) or hold ";
    struct Case {
        const char* name;
        std::vector<std::uint8_t> fileBytes;  // stored at 0x1FF00
        std::string placeholder;
        std::string refused;  // the start of the refusal, empty when taken
    };
    const std::vector<Case> cases = {
        {"nothing in the file", {}, "", ""},
        {"erased bytes in the file", {0xFF, 0xFF, 0xFF, 0xFF}, "", ""},
        {"the placeholder", {'0', '0', '0', '0'}, "30303030", ""},
        {"nothing in the file, a placeholder given", {}, "30303030", ""},
        {"data, no placeholder given",
         {'0', '0', '0', '0'},
         "",
         "the image holds 30 30 30 30 at 0x1FF00..0x1FF03"},
        {"other data than the placeholder",
         {'0', '0', '0', '1'},
         "30303030",
         "the image holds 30 30 30 31 at 0x1FF00..0x1FF03"},
        {"data on part of the place",
         {0xFF, 0xFF, 0x12},
         "",
         "the image holds FF FF 12 FF at 0x1FF00..0x1FF03"},
    };
    const SerialFormat format = *SerialFormat::Parse("dec:4");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HexImage image;
        const std::uint8_t other[] = {1, 2, 3};
        ASSERT_TRUE(image.Store(0, 0, other, sizeof other));
        ASSERT_TRUE(image.Store(1, 0xFF00, c.fileBytes.data(), c.fileBytes.size()));
        const Result<SerialPatch> patch = SerialPatch::Make("0x1FF00", format, c.placeholder);
        ASSERT_TRUE(patch) << patch.error().text;
        const Status check = patch->CheckImage(image);
        const std::string checked = check ? "" : check.error().text;
        EXPECT_EQ(checked.substr(0, c.refused.size()), c.refused);
        EXPECT_EQ(checked.empty(), c.refused.empty()) << checked;
        if (!c.refused.empty()) {
            EXPECT_NE(checked.find(refusal), std::string::npos) << checked;
        }
        // A board's image is never made over the file's own data.
        const Result<SerialPatch::Patched> patched = patch->Apply(image, 7);
        EXPECT_EQ(patched ? "" : patched.error().text, checked);
        EXPECT_EQ(!patched, !c.refused.empty());
    }
    const std::vector<std::pair<std::string, std::string>> wrong = {
        // address, placeholder
        {"0xZZ", ""},   {"", ""},         {"0x", ""},        {"0x123456789", ""},
        {"FFFFFE", ""}, {"0x100", "303"}, {"0x100", "3030"}, {"0x100", "3G303030"},
    };
    for (const auto& [address, placeholder] : wrong) {
        EXPECT_FALSE(SerialPatch::Make(address, format, placeholder))
            << address << " " << placeholder;
    }
    ASSERT_TRUE(SerialPatch::Make("0xFFFFFC", format, "")) << "the last 4 bytes";
    // Every other number option is decimal: a bare number is refused, with its 0x form.
    for (const auto& [address, says] : std::vector<std::pair<std::string, std::string>>{
             {"196608", "0x196608 (or 0x30000 for the decimal 196608)"},
             {"7F000", "0x7F000"},
             {"99999999", "0x99999999"}}) {
        const Result<SerialPatch> patch = SerialPatch::Make(address, format, "");
        ASSERT_FALSE(patch);
        EXPECT_EQ(patch.error().text,
                  "--serial-at takes its address in hexadecimal with 0x: " + says);
    }
}

// Each board's image is a copy of the file's with its number; the sector that holds the number
// is programmed even when the file has nothing else there; the digest of the image as flashed
// is that of the blocks Start Download sends.
TEST(SerialPatchTest, EachBoardGetsItsOwnImageAndDigest) {
    HexImage file;
    const std::vector<std::uint8_t> code(300, 0x5A);
    ASSERT_TRUE(file.Store(0, 0x100, code.data(), code.size()));
    const HexImage before = file;
    const SerialFormat format = *SerialFormat::Parse("le:4");
    // Across the border of sectors 1 and 2, where the file has nothing.
    const Result<SerialPatch> patch = SerialPatch::Make("0x1FFFE", format, "");
    ASSERT_TRUE(patch) << patch.error().text;
    EXPECT_EQ(patch->AddressText(), "0x1FFFE");

    const Result<SerialPatch::Patched> firstPatch = patch->Apply(file, 0x04030201);
    const Result<SerialPatch::Patched> secondPatch = patch->Apply(file, 0x04030202);
    ASSERT_TRUE(firstPatch && secondPatch);
    const SerialPatch::Patched& first = *firstPatch;
    const SerialPatch::Patched& second = *secondPatch;
    EXPECT_EQ(file, before) << "the file's image stays as it was read";
    EXPECT_EQ(first.text, "0x04030201");
    EXPECT_EQ(first.image->Byte(1, 0xFFFE), 0x01);
    EXPECT_EQ(first.image->Byte(1, 0xFFFF), 0x02);
    EXPECT_EQ(first.image->Byte(2, 0x0000), 0x03);
    EXPECT_EQ(first.image->Byte(2, 0x0001), 0x04);
    EXPECT_EQ(second.image->Byte(1, 0xFFFE), 0x02);
    EXPECT_TRUE(first.image->HoldsData(1) && first.image->HoldsData(2));
    EXPECT_EQ(first.image->FillMark(1), 0xFFFF);
    EXPECT_EQ(first.image->FillMark(2), 0x0001);
    EXPECT_EQ(first.image->Byte(0, 0x100), 0x5A);

    // The digest of the image as flashed is that of the file's bytes with the number's, written
    // where they go: the same as an image that held them from the start, and another for each
    // number.
    HexImage expected = before;
    const std::uint8_t number[] = {0x01, 0x02, 0x03, 0x04};
    ASSERT_TRUE(expected.Store(1, 0xFFFE, number, 2) && expected.Store(2, 0, number + 2, 2));
    EXPECT_EQ(DownloadJob::ProgrammedSha256(*first.image), DownloadJob::ProgrammedSha256(expected));
    EXPECT_NE(DownloadJob::ProgrammedSha256(*first.image), DownloadJob::ProgrammedSha256(before));
    EXPECT_NE(DownloadJob::ProgrammedSha256(*first.image),
              DownloadJob::ProgrammedSha256(*second.image));

    const Result<SerialPatch::Patched> tooBig = patch->Apply(file, 0x100000000);
    ASSERT_FALSE(tooBig);
    EXPECT_EQ(tooBig.error().text, "serial number 4294967296 does not fit le:4");
}

// Another program holding a file's lock, until the object goes.
class LockHolder {
public:
    explicit LockHolder(const std::string& path) {
#ifdef _WIN32
        EXPECT_TRUE(m_file.Open(path, std::chrono::milliseconds(0), nullptr));
#else
        // A child process: a lock of this process could not stand in another's way.
        int held[2];
        int release[2];
        if (pipe(held) != 0 || pipe(release) != 0) {
            ADD_FAILURE() << "no pipe";
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            close(held[0]);
            close(release[1]);
            const int file = open(path.c_str(), O_RDWR | O_CREAT, 0666);
            char byte = file >= 0 && flock(file, LOCK_EX) == 0 ? 'L' : 'E';
            if (write(held[1], &byte, 1) != 1) {
                _exit(1);
            }
            while (read(release[0], &byte, 1) > 0) {
            }
            _exit(0);
        }
        close(held[1]);
        close(release[0]);
        m_release = release[1];
        char byte = 0;
        EXPECT_EQ(read(held[0], &byte, 1), 1);
        EXPECT_EQ(byte, 'L') << "the child took the lock";
        close(held[0]);
#endif
    }
    ~LockHolder() {
#ifndef _WIN32
        close(m_release);
        int status = 0;
        waitpid(m_pid, &status, 0);
#endif
    }

private:
#ifdef _WIN32
    LockedFile m_file;
#else
    int m_pid = -1;
    int m_release = -1;
#endif
};

// How a take ended: the kind of its error, or nothing for a number taken; and its error's text.
std::optional<ErrorKind> FailureOf(const Result<std::uint64_t>& take) {
    return take ? std::nullopt : std::optional<ErrorKind>(take.error().kind);
}
std::string TextOf(const Result<std::uint64_t>& take) {
    return take ? std::string() : take.error().text;
}

constexpr std::chrono::milliseconds kShortPatience(50);

TEST(SerialCounterTest, EachNumberOnceAndWhyNot) {
    TempDir dir;
    const auto counter = [&](const std::string& name) { return (dir.path() / name).string(); };
    struct Case {
        const char* name;
        const char* content;  // nullptr: no file
        std::optional<std::uint64_t> start;
        std::optional<ErrorKind> error;
        std::uint64_t value;
        const char* after;  // the file after the take (when taken)
    };
    const std::vector<Case> cases = {
        {"missing", nullptr, std::nullopt, ErrorKind::kNotFound, 0, nullptr},
        {"missing, with a start", nullptr, 1000, std::nullopt, 1000, "1001\n"},
        {"a start, but the file wins", "17\n", 1000, std::nullopt, 17, "18\n"},
        {"hex, blanks around it", " 0x10 \r\n", std::nullopt, std::nullopt, 16, "17\n"},
        {"malformed", "twelve\n", std::nullopt, ErrorKind::kInvalidData, 0, nullptr},
        {"empty", "", std::nullopt, ErrorKind::kInvalidData, 0, nullptr},
        {"at its end", "18446744073709551615", std::nullopt, ErrorKind::kExhausted, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = counter(c.name);
        if (c.content != nullptr) {
            dir.Write(c.name, c.content);
        }
        SerialCounter source(path, c.start);
        const Result<std::uint64_t> checked = source.Check();
        // Only taking finds a counter at its end.
        EXPECT_EQ(FailureOf(checked), c.error == ErrorKind::kExhausted ? std::nullopt : c.error);
        const Result<std::uint64_t> take = source.Take(nullptr);
        EXPECT_EQ(FailureOf(take), c.error) << TextOf(take);
        if (take.has_value()) {
            EXPECT_EQ(take.value_or(0), c.value);
            EXPECT_EQ(ReadFile(path), c.after);
            EXPECT_EQ(source.Take(nullptr).value_or(0), c.value + 1);
        } else {
            EXPECT_NE(TextOf(take).find("serial counter " + path), std::string::npos)
                << TextOf(take);
            EXPECT_EQ(std::filesystem::exists(path), c.content != nullptr);
            if (c.content != nullptr) {
                EXPECT_EQ(ReadFile(path), c.content) << "a refused counter stays as it was";
            }
        }
    }
    {
        SCOPED_TRACE("a folder in its place");
        std::filesystem::create_directory(dir.path() / "folder");
        EXPECT_EQ(FailureOf(SerialCounter(counter("folder"), 1).Take(nullptr)), ErrorKind::kIo);
    }
    {
        SCOPED_TRACE("reached through a link: one counter, one lock");
        const std::string real = dir.Write("real", "70\n");
        std::error_code error;
        std::filesystem::create_symlink(real, counter("link"), error);
        if (!error) {  // Windows may not allow links
            EXPECT_EQ(SerialCounter(counter("link"), 1).Take(nullptr).value_or(0), 70u);
            EXPECT_EQ(SerialCounter(real, 1).Take(nullptr).value_or(0), 71u);
            EXPECT_TRUE(std::filesystem::is_symlink(counter("link"))) << "the link stays";
            EXPECT_EQ(ReadFile(counter("link")), "72\n");
        }
    }
    {
        SCOPED_TRACE("locked by another program");
        const std::string path = dir.Write("locked", "5\n");
        SerialCounter source(path, std::nullopt, kShortPatience);
        {
            LockHolder holder(path + ".lock");
            EXPECT_EQ(FailureOf(source.Take(nullptr)), ErrorKind::kBusy);
            // However long it would wait, a stop request ends the wait.
            SerialCounter patient(path, std::nullopt, std::chrono::hours(1));
            EXPECT_EQ(FailureOf(patient.Take([] { return true; })), ErrorKind::kAborted);
            EXPECT_EQ(FailureOf(patient.Check([] { return true; })), ErrorKind::kAborted);
            EXPECT_EQ(ReadFile(path), "5\n");
        }
        EXPECT_EQ(source.Take(nullptr).value_or(0), 5u) << "free again";
    }
}

// Programs taking from one counter at once never get the same number, and skip none (on
// Windows threads, each with a handle of its own: the locks of two handles exclude each other
// like those of two programs).
TEST(SerialCounterTest, ProgramsTakingAtOnceGetDistinctNumbers) {
    TempDir dir;
    const std::string path = (dir.path() / "counter").string();
    constexpr int kPrograms = 4;
    constexpr int kTakes = 25;
    std::multiset<std::uint64_t> taken;
#ifdef _WIN32
    std::mutex mutex;
    std::vector<std::thread> programs;
    for (int p = 0; p < kPrograms; ++p) {
        programs.emplace_back([&] {
            SerialCounter source(path, 500);
            for (int t = 0; t < kTakes; ++t) {
                const Result<std::uint64_t> take = source.Take(nullptr);
                std::lock_guard<std::mutex> lock(mutex);
                taken.insert(take.value_or(0));
            }
        });
    }
    for (std::thread& program : programs) {
        program.join();
    }
#else
    int numbers[2];
    ASSERT_EQ(pipe(numbers), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < kPrograms; ++p) {
        const pid_t pid = fork();
        if (pid == 0) {
            close(numbers[0]);
            SerialCounter source(path, 500);
            for (int t = 0; t < kTakes; ++t) {
                const Result<std::uint64_t> take = source.Take(nullptr);
                const std::uint64_t value = take.value_or(0);
                if (write(numbers[1], &value, sizeof value) != sizeof value) {
                    _exit(1);
                }
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    close(numbers[1]);
    std::uint64_t value = 0;
    while (read(numbers[0], &value, sizeof value) == sizeof value) {
        taken.insert(value);
    }
    close(numbers[0]);
    for (const pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
#endif
    std::multiset<std::uint64_t> expected;
    for (std::uint64_t n = 500; n < 500 + kPrograms * kTakes; ++n) {
        expected.insert(n);
    }
    EXPECT_EQ(taken, expected);
    EXPECT_EQ(ReadFile(path), std::to_string(500 + kPrograms * kTakes) + "\n");
}

// A counter, list or .used file is refused when a file made anew or reached by another name
// could hand out its numbers again (a link whose target is gone, as on a share that is not
// mounted; a second name, a hard link, which gets a lock of its own), or when it is too large
// to be one. Nothing is made or changed in its place, through either name.
TEST(SerialFilesTest, ALinkToNothingASecondNameOrAGiantFileIsRefused) {
    TempDir dir;
    const auto at = [&dir](const std::string& name) { return (dir.path() / name).string(); };
    const std::string gone = at("share.off/c");
    const auto link = [&](const std::string& name) {
        std::filesystem::create_symlink(gone, at(name));
        return "a symbolic link to " + gone + ", which does not exist";
    };
    const auto secondName = [&](const std::string& name, const std::string& content) {
        std::filesystem::create_hard_link(dir.Write(name, content), at(name + "-b"));
        return std::string("2 names (hard links)");
    };
    const auto giant = [&](const std::string& name, std::size_t limit) {
        std::filesystem::resize_file(dir.Write(name, "1\n"), limit + 1);
        return "larger than " + ByteCountText(limit);
    };
    struct Case {
        const char* name;  // a counter's or list's name; FILE.used when it ends in ".used"
        bool list;
        std::function<std::string()> make;  // makes the files, gives what the refusal says
    };
    const std::vector<Case> cases = {
        {"c1", false, [&] { return link("c1"); }},
        {"l1", true, [&] { return link("l1"); }},
        {"l2.used", true, [&] { return dir.Write("l2", "1\n"), link("l2.used"); }},
        {"c3", false, [&] { return secondName("c3", "700\n"); }},
        {"l3", true, [&] { return secondName("l3", "1\n"); }},
        {"l4.used", true, [&] { return dir.Write("l4", "1\n"), secondName("l4.used", ""); }},
        {"c5", false, [&] { return giant("c5", kSerialCounterLimit); }},
        {"l5", true, [&] { return giant("l5", kSerialListLimit); }},
        {"l6.used", true,
         [&] { return dir.Write("l6", "1\n"), giant("l6.used", kSerialListLimit); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string says;
        try {
            says = c.make();
        } catch (const std::filesystem::filesystem_error&) {
            continue;  // Windows may allow no links
        }
        const std::string file = at(c.name);
        const std::string source = file.substr(0, file.find(".used"));
        const auto before = std::filesystem::symlink_status(file).type();
        const auto size =
            before == std::filesystem::file_type::regular ? std::filesystem::file_size(file) : 0;
        for (const std::string& name : {source, source + "-b", source}) {
            if (!std::filesystem::exists(std::filesystem::symlink_status(name))) {
                continue;
            }
            std::unique_ptr<SerialSource> numbers;
            if (c.list) {
                numbers = std::make_unique<SerialList>(name);
            } else {
                numbers = std::make_unique<SerialCounter>(name, 1);
            }
            for (const Result<std::uint64_t>& take : {numbers->Check(), numbers->Take(nullptr)}) {
                EXPECT_EQ(FailureOf(take), ErrorKind::kRefused) << TextOf(take);
                EXPECT_EQ(TextOf(take).rfind(c.list ? "serial list " : "serial counter ", 0), 0u);
                EXPECT_NE(TextOf(take).find(says), std::string::npos) << TextOf(take);
            }
        }
        EXPECT_EQ(std::filesystem::symlink_status(file).type(), before) << "a link stays a link";
        EXPECT_FALSE(std::filesystem::exists(gone));
        if (before == std::filesystem::file_type::regular) {
            EXPECT_EQ(std::filesystem::file_size(file), size);
        }
    }
    // A production run takes only from a counter that exists: an empty folder where its share
    // is not mounted must not start the numbers anew.
    SerialCounter production(at("empty"), 1, SerialSource::kLockPatience,
                             SerialCounter::Missing::kRefuse);
    const Result<std::uint64_t> take = production.Take(nullptr);
    EXPECT_EQ(FailureOf(take), ErrorKind::kNotFound);
    EXPECT_EQ(TextOf(take).rfind(
                  "serial counter " + at("empty") + " does not exist (a production run", 0),
              0u)
        << TextOf(take);
    EXPECT_FALSE(std::filesystem::exists(at("empty")));

    // A link left where a take writes the counter's next content is neither written through
    // nor renamed over the counter.
    const std::string counter = dir.Write("c7", "5\n");
    const std::string other = dir.Write("other", "keep\n");
    try {
        std::filesystem::create_symlink(other, counter + ".new");
    } catch (const std::filesystem::filesystem_error&) {
        return;  // Windows may allow no links
    }
    EXPECT_EQ(SerialCounter(counter, std::nullopt).Take(nullptr).value_or(0), 5u);
    EXPECT_EQ(ReadFile(other), "keep\n");
    EXPECT_EQ(std::filesystem::symlink_status(counter).type(), std::filesystem::file_type::regular);
    EXPECT_EQ(ReadFile(counter), "6\n");
}

TEST(SerialListTest, EachValueOnceInOrderAndWhyNot) {
    TempDir dir;
    struct Case {
        const char* name;
        const char* list;  // nullptr: no file
        const char* used;  // nullptr: no FILE.used yet
        std::vector<std::uint64_t> taken;
        std::optional<ErrorKind> then;  // how the take after them ends
        const char* usedAfter;
    };
    const std::vector<Case> cases = {
        {"in order, then used up",
         "1\n0x10\n\n 3 \r\n",
         nullptr,
         {1, 16, 3},
         ErrorKind::kExhausted,
         "1\n0x10\n3\n"},
        {"values used before are passed over",
         "1\n2\n3\n4",
         "0x2\n4\n",
         {1, 3},
         ErrorKind::kExhausted,
         "0x2\n4\n1\n3\n"},
        // A crash in the middle of an append: the start of a value, no line end.
        {"an append cut short",
         "0x20\n0x21\n",
         "0x",
         {0x20, 0x21},
         ErrorKind::kExhausted,
         "0x\n0x20\n0x21\n"},
        {"missing", nullptr, nullptr, {}, ErrorKind::kNotFound, nullptr},
        {"a line that is no value", "1\n2\nthree\n", nullptr, {}, ErrorKind::kInvalidData, nullptr},
        {"a value given twice", "7\n8\n0x7\n", nullptr, {}, ErrorKind::kInvalidData, nullptr},
        {"FILE.used spoiled", "1\n2\n", "1\nzwei\n", {}, ErrorKind::kInvalidData, "1\nzwei\n"},
        {"empty", "\n\n", nullptr, {}, ErrorKind::kExhausted, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = (dir.path() / c.name).string();
        if (c.list != nullptr) {
            dir.Write(c.name, c.list);
        }
        if (c.used != nullptr) {
            dir.Write(std::string(c.name) + ".used", c.used);
        }
        SerialList source(path);
        const Result<std::uint64_t> checked = source.Check();
        EXPECT_EQ(FailureOf(checked), c.taken.empty() ? c.then : std::nullopt);
        for (const std::uint64_t expected : c.taken) {
            const Result<std::uint64_t> take = source.Take(nullptr);
            EXPECT_TRUE(take.has_value()) << TextOf(take);
            EXPECT_EQ(take.value_or(0), expected);
        }
        const Result<std::uint64_t> last = source.Take(nullptr);
        EXPECT_EQ(FailureOf(last), c.then) << TextOf(last);
        EXPECT_EQ(TextOf(last).rfind("serial list " + path, 0), 0u) << TextOf(last);
        if (c.then == ErrorKind::kExhausted) {
            EXPECT_EQ(TextOf(last), "serial list " + path + " is used up");
        }
        EXPECT_EQ(std::filesystem::exists(path + ".used"), c.usedAfter != nullptr);
        if (c.usedAfter != nullptr) {
            EXPECT_EQ(ReadFile(path + ".used"), c.usedAfter);
        }
    }
    {
        SCOPED_TRACE("a folder in its place");
        std::filesystem::create_directory(dir.path() / "folder");
        EXPECT_EQ(FailureOf(SerialList((dir.path() / "folder").string()).Take(nullptr)),
                  ErrorKind::kIo);
    }
    {
        SCOPED_TRACE("locked by another program");
        const std::string path = dir.Write("locked", "1\n2\n");
        SerialList source(path, kShortPatience);
        {
            LockHolder holder(path + ".used");
            EXPECT_EQ(FailureOf(source.Take(nullptr)), ErrorKind::kBusy);
            EXPECT_EQ(FailureOf(source.Take([] { return true; })), ErrorKind::kAborted);
        }
        EXPECT_EQ(source.Take(nullptr).value_or(0), 1u) << "free again";
    }
}

}  // namespace
