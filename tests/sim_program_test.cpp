// quillon-sim as a program: where its report and flash dump go, and its standard descriptors.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/virtual_ports.h"
#include "sim/flash_model.h"
#include "sim/sim_monitor_file.h"
#include "tests/support/process.h"
#include "tests/support/test_files.h"

extern char** environ;

using namespace quillon;

namespace {

namespace fs = std::filesystem;

const std::string kMonitor = std::string(QUILLON_SOURCE_DIR) + "/Targets/virtual-target.h86";

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::set<fs::path> Entries(const fs::path& folder) {
    std::set<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(folder)) {
        entries.insert(entry.path());
    }
    return entries;
}

// A runtime folder as the session manager makes one: private to the user.
class RuntimeFolder {
public:
    RuntimeFolder() { fs::permissions(m_dir.path(), fs::perms::owner_all); }
    const fs::path& path() const { return m_dir.path(); }
    fs::path ports() const { return path() / "quillon" / "ports"; }
    std::map<std::string, std::string> environment() const {
        return {{"XDG_RUNTIME_DIR", path().string()}};
    }

private:
    TempDir m_dir;
};

// Everything written to a FIFO while the program under test runs. Opened before the program
// starts, so that its writer finds a reader.
class FifoReader {
public:
    explicit FifoReader(const std::string& path)
        : m_fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)), m_thread([this] {
              // Until the writer has come and gone (a FIFO that never had one does not poll
              // as hung up), or 20 s of nothing.
              char buffer[65536];
              pollfd p{m_fd, POLLIN, 0};
              while (poll(&p, 1, 20000) > 0) {
                  const ssize_t got = read(m_fd, buffer, sizeof buffer);
                  if (got == 0 || (got < 0 && errno != EAGAIN)) {
                      break;
                  }
                  m_got.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
              }
          }) {}
    ~FifoReader() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
        close(m_fd);
    }
    std::string Take() {
        m_thread.join();
        return m_got;
    }

private:
    int m_fd;
    std::string m_got;
    std::thread m_thread;
};

// Where an output goes: anything but a directory or a regular file is written as it is, never
// replaced by a file; what cannot be written makes the exit status 1 and says why.
TEST(SimProgramTest, ReportAndDumpGoWhereTheirPathPointsOrSayWhyNot) {
    enum class Kind { kFile, kLink, kFifo, kLonelyFifo, kDirectory, kFull };
    struct Case {
        std::string option;
        Kind kind;
        std::string reason;  // empty: written
    };
    const Case cases[] = {
        {"--report", Kind::kFile, ""},
        {"--report", Kind::kLink, ""},
        {"--report", Kind::kFifo, ""},
        {"--report", Kind::kLonelyFifo, "no reader on the FIFO"},
        {"--report", Kind::kDirectory, "it is a directory"},
        {"--report", Kind::kFull, "No space left on device"},
        {"--dump", Kind::kFile, ""},
        {"--dump", Kind::kFifo, ""},
        {"--dump", Kind::kDirectory, "it is a directory"},
        {"--dump", Kind::kFull, "No space left on device"},
    };
    for (const Case& c : cases) {
        static const char* const kNames[] = {"file",      "link to a file", "FIFO",
                                             "lone FIFO", "directory",      "/dev/full"};
        SCOPED_TRACE(c.option + " onto a " + kNames[static_cast<int>(c.kind)]);
        TempDir dir;
        const fs::path file = dir.path() / "out";
        std::string path = file.string();
        switch (c.kind) {
            case Kind::kFile:
                dir.Write("out", "old");
                fs::create_hard_link(file, dir.path() / "held");  // a reader holding the old one
                break;
            case Kind::kLink:
                dir.Write("out", "old");
                path = (dir.path() / "link").string();
                fs::create_symlink("out", path);
                break;
            case Kind::kFifo:
            case Kind::kLonelyFifo:
                ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
                break;
            case Kind::kDirectory:
                fs::create_directory(file);
                break;
            case Kind::kFull:
                path = "/dev/full";
                break;
        }
        const std::set<fs::path> before = Entries(dir.path());
        std::optional<FifoReader> reader;
        if (c.kind == Kind::kFifo) {
            reader.emplace(path);
        }
        const ProcessResult result =
            RunProcess({QUILLON_SIM_PROGRAM, "--monitor", kMonitor, "--link", "none",
                        "--exit-after", "0.1", c.option, path});
        const std::string what = c.option == "--report" ? "the report" : "the flash dump";
        EXPECT_EQ(result.exitCode, c.reason.empty() ? 0 : 1);
        EXPECT_EQ(result.err, c.reason.empty() ? ""
                                               : "quillon-sim: cannot write " + what + " " + path +
                                                     ": " + c.reason + "\n");
        EXPECT_EQ(Entries(dir.path()), before) << "nothing left beside it";
        if (c.reason.empty()) {
            const std::string written = reader ? reader->Take() : Read(file);
            EXPECT_TRUE(c.option == "--report" ? written.find("\"target\": {") != std::string::npos
                                               : written.size() == FlashModel::kSize);
        }
        struct stat info {};
        ASSERT_EQ(lstat(path.c_str(), &info), 0);
        switch (c.kind) {
            case Kind::kFile:
                EXPECT_TRUE(S_ISREG(info.st_mode));
                EXPECT_EQ(Read(dir.path() / "held"), "old") << "replaced, not written over";
                break;
            case Kind::kLink:
                EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link stays";
                break;
            case Kind::kFifo:
            case Kind::kLonelyFifo:
                EXPECT_TRUE(S_ISFIFO(info.st_mode));
                break;
            case Kind::kDirectory:
                EXPECT_TRUE(S_ISDIR(info.st_mode));
                break;
            case Kind::kFull:
                EXPECT_TRUE(S_ISCHR(info.st_mode));
                break;
        }
    }
}

// Started with standard descriptors closed, it serves its line as usual: a closed one never
// becomes a descriptor it uses (its messages would land there).
TEST(SimProgramTest, ClosedStandardDescriptorsStayOffItsWork) {
    const Result<SimMonitorFile> loaded = LoadSimMonitorFile(kMonitor);
    ASSERT_TRUE(loaded) << loaded.error().text;
    const SimMonitorFile& file = *loaded;
    for (const std::vector<int>& closed : {std::vector<int>{0, 2}, std::vector<int>{1, 2}}) {
        SCOPED_TRACE(std::to_string(closed[0]) + " and " + std::to_string(closed[1]) + " closed");
        TempDir dir;
        const std::string link = (dir.path() / "port").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (int fd = 0; fd <= 2; ++fd) {
            if (std::find(closed.begin(), closed.end(), fd) != closed.end()) {
                posix_spawn_file_actions_addclose(&actions, fd);
            } else {
                posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
            }
        }
        std::vector<std::string> args = {QUILLON_SIM_PROGRAM, "--monitor", kMonitor, "--link", link,
                                         "--exit-after",      "20"};
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        pid_t pid = -1;
        ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);

        int line = -1;
        for (int i = 0; i < 500 && line < 0; ++i) {
            line = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (line < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        ASSERT_GE(line, 0) << "its line";
        termios raw{};
        tcgetattr(line, &raw);
        cfmakeraw(&raw);
        tcsetattr(line, TCSANOW, &raw);
        ASSERT_EQ(write(line, &file.syncByte, 1), 1);
        pollfd p{line, POLLIN, 0};
        std::uint8_t answer = 0;
        EXPECT_TRUE(poll(&p, 1, 2000) == 1 && read(line, &answer, 1) == 1 &&
                    answer == file.identByte)
            << "the ident byte first: " << static_cast<int>(answer);
        close(line);
        kill(pid, SIGTERM);
        int status = -1;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}

// Its port is announced only in a folder that is its own and nobody else's to write; a runtime
// folder that is missing or relative is not made but passed over for the temporary folder.
// Where it may not announce, it says why and serves its line all the same.
TEST(SimProgramTest, AnnouncesItsPortOnlyInAFolderOfItsOwn) {
    struct Case {
        const char* folder;
        std::function<void(const fs::path& runtime)> make;
        std::string runtime;  // XDG_RUNTIME_DIR below the runtime folder; empty: the folder
        std::string fault;    // what it says, the runtime folder written as {}
    };
    const Case cases[] = {
        {"private", [](const fs::path&) {}, "", ""},
        {"runtime folder missing", [](const fs::path&) {}, "missing", ""},
        {"group-writable",
         [](const fs::path& runtime) {
             fs::create_directory(runtime / "quillon");
             fs::permissions(runtime / "quillon", fs::perms::owner_all | fs::perms::group_all);
         },
         "", "{}/quillon is writable by other users"},
        {"ports a symbolic link",
         [](const fs::path& runtime) {
             fs::create_directories(runtime / "elsewhere");
             fs::create_directory(runtime / "quillon");
             fs::permissions(runtime / "quillon", fs::perms::owner_all);
             fs::create_directory_symlink(runtime / "elsewhere", runtime / "quillon" / "ports");
         },
         "", "{}/quillon/ports is a symbolic link"},
        {"another user's",
         [](const fs::path& runtime) {
             fs::create_directory(runtime / "quillon");
             ASSERT_EQ(chown((runtime / "quillon").c_str(), 65534, 65534), 0);
         },
         "", "{}/quillon belongs to another user"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        if (std::string(c.folder) == "another user's" && geteuid() != 0) {
            continue;  // only root can give a folder away
        }
        const RuntimeFolder runtime;
        TempDir temporary;
        c.make(runtime.path());
        ProcessOptions options;
        options.environment = {{"XDG_RUNTIME_DIR", (runtime.path() / c.runtime).string()},
                               {"TMPDIR", temporary.path().string()}};
        const ProcessResult result = RunProcess(
            {QUILLON_SIM_PROGRAM, "--monitor", kMonitor, "--exit-after", "0.1"}, options);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out.rfind("/dev/", 0), 0u) << "its line is served: " << result.out;
        if (c.fault.empty()) {
            const fs::path folder =
                c.runtime.empty()
                    ? runtime.ports()
                    : temporary.path() / ("quillon-" + std::to_string(getuid())) / "ports";
            EXPECT_NE(result.err.find(", link " + (folder / "quillon-sim-").string()),
                      std::string::npos)
                << result.err;
            EXPECT_TRUE(Entries(folder).empty()) << "link and lock removed on the way out";
            EXPECT_TRUE(c.runtime.empty() || !fs::exists(runtime.path() / c.runtime))
                << "a missing runtime folder is never made";
        } else {
            std::string fault = c.fault;
            fault.replace(fault.find("{}"), 2, runtime.path().string());
            EXPECT_EQ(result.err, "quillon-sim: " + fault +
                                      "; the port is not announced (name a link with --link)\n");
        }
    }
}

// A target that serves its line holds its link's lock; one that was killed leaves link and
// lock unheld (port lists pass them over) until the next target removes them.
TEST(SimProgramTest, ItsLinkIsServedWhileItLivesAndTidiedAfterIt) {
    const RuntimeFolder runtime;
    BackgroundProcess killed({QUILLON_SIM_PROGRAM, "--monitor", kMonitor}, runtime.environment());
    ASSERT_EQ(killed.ReadLine().rfind("/dev/", 0), 0u);
    const fs::path link = runtime.ports() / ("quillon-sim-" + std::to_string(killed.pid()));
    EXPECT_TRUE(IsVirtualPortServed(link.string()));
    kill(killed.pid(), SIGKILL);
    EXPECT_EQ(killed.Stop(), 128 + SIGKILL);
    EXPECT_EQ(Entries(runtime.ports()),
              (std::set<fs::path>{link, VirtualPortLockPath(link.string())}));
    EXPECT_FALSE(IsVirtualPortServed(link.string()));

    BackgroundProcess next({QUILLON_SIM_PROGRAM, "--monitor", kMonitor}, runtime.environment());
    ASSERT_EQ(next.ReadLine().rfind("/dev/", 0), 0u);
    const fs::path nextLink = runtime.ports() / ("quillon-sim-" + std::to_string(next.pid()));
    EXPECT_EQ(Entries(runtime.ports()),
              (std::set<fs::path>{nextLink, VirtualPortLockPath(nextLink.string())}));
    EXPECT_TRUE(IsVirtualPortServed(nextLink.string()));
    EXPECT_EQ(next.Stop(), 0);
    EXPECT_TRUE(Entries(runtime.ports()).empty());
}

#if defined(__SANITIZE_THREAD__)
constexpr bool kBuiltWithThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kBuiltWithThreadSanitizer = true;
#else
constexpr bool kBuiltWithThreadSanitizer = false;
#endif
#else
constexpr bool kBuiltWithThreadSanitizer = false;
#endif

// Under a file-size limit an output that does not fit fails with its reason instead of the
// signal killing the target: nothing is left of it, and the link and lock go as always.
TEST(SimProgramTest, AFileSizeLimitFailsTheOutputNotTheTarget) {
    // The ThreadSanitizer runtime writes a file of its own before main(), which the limit of 0
    // ends; the other builds run this case.
    if (kBuiltWithThreadSanitizer) {
        GTEST_SKIP() << "not under ThreadSanitizer";
    }
    for (const std::string option : {"--report", "--dump"}) {
        SCOPED_TRACE(option);
        const RuntimeFolder runtime;
        TempDir dir;
        const std::string path = (dir.path() / "out").string();
        ProcessOptions options;
        options.environment = runtime.environment();
        // The shell sets the limit in the child, then becomes the target.
        const ProcessResult result =
            RunProcess({"/bin/sh", "-c", "ulimit -f 0 && exec \"$@\"", "sh", QUILLON_SIM_PROGRAM,
                        "--monitor", kMonitor, "--exit-after", "0.1", option, path},
                       options);
        const std::string what = option == "--report" ? "the report" : "the flash dump";
        EXPECT_EQ(result.exitCode, 1);
        const std::string message =
            "quillon-sim: cannot write " + what + " " + path + ": File too large\n";
        EXPECT_TRUE(
            result.err.size() > message.size() &&
            result.err.compare(result.err.size() - message.size(), message.size(), message) == 0)
            << result.err;
        EXPECT_TRUE(Entries(dir.path()).empty()) << "no temporary file left";
        EXPECT_TRUE(Entries(runtime.ports()).empty()) << "link and lock removed";
    }
}

}  // namespace
