// quillon-cli as a whole program, against quillon-sim running as a program of its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_options.h"
#include "cli/progress_meter.h"
#include "image/hex_reader.h"
#include "link/download_job.h"
#include "platform/child_process.h"
#include "platform/latency_timer.h"
#include "platform/sha256.h"
#include "production/board_record.h"
#include "production/station_event.h"
#include "production/station_summary.h"
#include "serial_numbers/serial_patch.h"
#include "tests/support/hex_text.h"
#include "tests/support/monitor_file.h"
#include "tests/support/process.h"
#include "tests/support/test_files.h"
#include "tests/support/virtual_line.h"

using namespace quillon;

namespace {

const std::string kBin = QUILLON_BIN_DIR;
const std::string kCli = kBin + "/quillon-cli";
const std::string kSim = kBin + "/quillon-sim";
const std::string kDemo = kBin + "/samples/demo.hex";

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += line + "\n";
    }
    return text;
}

std::vector<std::string> InitializeLines(const std::string& port) {
    return {port + " initialized.",
            std::string(39, '-'),
            "Send BOOTLOAD (Level 0) !    ==> 32 Bytes",
            "Send BOOTLOAD (Level 1) !    ==> 416 Byte",
            "RAM test started.",
            "RAM test successful!",
            "Send Monitor  (Level 2) !   ==> 6144 Byte",
            "Monitor started!"};
}

// quillon-sim with the shipped virtual target and `options`, its report written on exit.
class Sim {
public:
    explicit Sim(std::vector<std::string> options = {}) : m_report(m_dir.path() / "report.json") {
        std::vector<std::string> argv = {kSim,         "--link", "none",     "--ram-test-ms",  "0",
                                         "--erase-ms", "1",      "--report", m_report.string()};
        argv.insert(argv.end(), options.begin(), options.end());
        m_process = std::make_unique<BackgroundProcess>(argv);
        m_port = m_process->ReadLine();
    }
    const std::string& port() const { return m_port; }
    // The report of the target as it is now (SIGUSR1 has it written; it lands whole, by a
    // rename).
    std::string Snapshot() {
        std::filesystem::remove(m_report);
        kill(m_process->pid(), SIGUSR1);
        EXPECT_TRUE(WaitUntil([this] { return std::filesystem::exists(m_report); },
                              std::chrono::seconds(5)));
        std::ifstream in(m_report);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Stops the simulator and returns its report.
    std::string Report() {
        m_process->Stop();
        std::ifstream in(m_report);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    TempDir m_dir;
    std::filesystem::path m_report;
    std::unique_ptr<BackgroundProcess> m_process;
    std::string m_port;
};

// A pseudo-terminal for the program under test, read while the program runs so that its
// output never fills up; Text() once the program has ended.
class Terminal {
public:
    Terminal() {
        char name[256] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
            throw std::runtime_error("openpty failed");
        }
        m_name = name;
        // Only the program under test may hold the terminal, or its end is never seen.
        fcntl(m_master, F_SETFD, FD_CLOEXEC);
        fcntl(m_slave, F_SETFD, FD_CLOEXEC);
        m_reader = std::thread([this] {
            char buffer[4096];
            ssize_t n;
            while ((n = read(m_master, buffer, sizeof buffer)) > 0) {
                m_text.append(buffer, static_cast<std::size_t>(n));
            }
        });
    }
    ~Terminal() {
        Text();
        close(m_master);
    }
    const std::string& name() const { return m_name; }
    void Resize(unsigned short rows, unsigned short columns) const {
        const winsize size{rows, columns, 0, 0};
        ioctl(m_master, TIOCSWINSZ, &size);
    }
    // Whether the terminal echoes what is typed on it.
    bool Echoes() const {
        termios settings{};
        return tcgetattr(m_master, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
    }
    // Types `text` as from the keyboard.
    void Type(const char* text) const {
        if (write(m_master, text, std::strlen(text)) <= 0) {
            ADD_FAILURE() << "cannot type on the terminal";
        }
    }
    const std::string& Text() {
        if (m_reader.joinable()) {
            close(m_slave);  // the reader sees the end once the last holder is gone
            m_reader.join();
        }
        return m_text;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_name;
    std::string m_text;
    std::thread m_reader;
};

ProcessResult Cli(const std::vector<std::string>& args, const ProcessOptions& options = {}) {
    std::vector<std::string> argv = {kCli};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, options);
}

TEST(CliTest, SuccessfulDownloadPrintsOnlyTheLogLines) {
    Sim sim;
    const ProcessResult result =
        Cli({"--port", sim.port(), "--target", "virtual target", "--erase-all", kDemo});
    std::vector<std::string> expected = InitializeLines(sim.port());
    for (int s = 0; s < 8; ++s) {
        expected.push_back("Erasing sector " + std::to_string(s) + "!");
    }
    expected.insert(expected.end(),
                    {"Programming sector 0! " + std::string(52, '*'), "Programming sector 1! ****",
                     "Programming sector 3! *", "Programming sector 5! *", "Finalizing download",
                     "Download finished successfully!"});
    EXPECT_EQ(result.out, Lines(expected));
    EXPECT_EQ(result.err, "") << "no progress bar and no messages without a terminal";
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(sim.Report().find("\"eraseSequence\": [0, 1, 2, 3, 4, 5, 6, 7]"), std::string::npos);
}

TEST(CliTest, EachFailureKindEndsWithStatus1) {
    {
        SCOPED_TRACE("target refuses the handshake");
        Sim sim({"--wrong-ident", "0x12"});
        const ProcessResult result = Cli({"-p", sim.port(), "-t", "Virtual Target", kDemo});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out, Lines({sim.port() + " initialized.", std::string(39, '-'),
                                     "Wrong answer (Set 0x6B::Act 0x12)!"}));
    }
    {
        SCOPED_TRACE("a block answered with a CRC error");
        Sim sim({"--crc-error-at", "block@3"});
        const ProcessResult result = Cli({"-p", sim.port(), "-t", "Virtual Target", kDemo});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.out.find("Programming sector 0! *\nWrong CRC!\n"), std::string::npos)
            << result.out;
    }
    // A port that cannot be used: the log line, and on stderr which port and why.
    Terminal held;
    const int holder = open(held.name().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    TempDir dir;
    const std::string plainFile = dir.Write("not-a-port", "");
    const std::tuple<std::string, std::string, std::string> ports[] = {
        // port: the log, the reason
        {"/dev/quillon-no-such-port", "Unable to open COM port!\n", "not found"},
        {held.name(), "Unable to open COM port!\n", "busy (another program has it)"},
        {plainFile, "Error initializing COM port!\n", "not a serial device"},
    };
    for (const auto& [port, log, reason] : ports) {
        SCOPED_TRACE(port);
        const ProcessResult result = Cli({"-p", port, "-t", "Virtual Target", "--init-only"});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out, log);
        EXPECT_EQ(result.err, "quillon-cli: " + port + ": " + reason + "\n");
    }
    close(holder);
}

// Any rate reaches the target, from a single run and from a production run's stations: a
// target whose UART makes 500000 (24 MHz / 16 / 3) starts its monitor at that rate on each
// port, and fails at the handshake at 460800, 8.5% off.
TEST(CliTest, AnyRateReachesTheTargetAndAMismatchFailsAtTheHandshake) {
    const std::vector<std::string> uart = {"--uart-clock", "24000000", "--uart-prescale",
                                           "16",           "--baud",   "auto"};
    Sim first(uart);
    Sim second(uart);
    const ProcessResult run = Cli({"-p", first.port() + "," + second.port(), "-t", "Virtual Target",
                                   "-b", "500000", "--init-only"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    for (Sim* sim : {&first, &second}) {
        EXPECT_NE(sim->Report().find("\"hostBaud\": 500000, \"baud\": 500000"), std::string::npos);
    }
    Sim third(uart);
    const ProcessResult single =
        Cli({"-p", third.port(), "-t", "Virtual Target", "-b", "460800", "--init-only"});
    EXPECT_EQ(single.exitCode, 1);
    EXPECT_EQ(single.out, Lines({third.port() + " initialized.", std::string(39, '-'),
                                 "No response from target (=> Activate BSL-Mode => Reset) !"}));
}

// Whatever the image argument names, a file that is no image is said at once, in the reader's
// words, before the target is touched; nothing blocks, nothing spins.
TEST(CliTest, FilesThatAreNoImageAreRefusedBeforeTheTargetIsTouched) {
    TempDir dir;
    const std::string fifo = (dir.path() / "pipe.hex").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string cannotOpen = "Fehler beim Öffnen der Quelldatei!\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/nonexistent.hex", "Datei nicht vorhanden!\n"},
        {dir.Write("broken.hex", ":0100000011EF\n"), "Fehler\n"},
        {dir.Write("nul.hex", std::string(":01000000\0"
                                          "1EE\n",
                                          14)),
         "Fehler bei der Satzanalyse : Nr. '\\x00'!\n"
         "Fehler bei der Satzanalyse : 'ungültiges Zeichen' 1 (1)\n"},
        {"/dev/zero", cannotOpen},
        {fifo, cannotOpen},
        {dir.path().string(), cannotOpen},
        {dir.Write("image.s19", "S00600004844521B\nS1070000010203F2\nS9030000FC\n"),
         "Datei beendet\nDie Datei enthält keinen einzigen HEX-Datensatz!\n"},
        {dir.Write("end.hex", ":00000001FF\n"),
         "No data in the image file: nothing to erase or program!\n"},
    };
    Sim sim;
    for (const auto& [image, err] : cases) {
        SCOPED_TRACE(image);
        const ProcessResult result = Cli({"-p", sim.port(), "-t", "Virtual Target", image});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out, "");
        // The reader's messages name the program and the file, line by line.
        std::string named;
        for (std::size_t at = 0, end; (end = err.find('\n', at)) != std::string::npos;
             at = end + 1) {
            const std::string line = err.substr(at, end - at + 1);
            named += line.rfind("No data", 0) == 0 ? line : "quillon-cli: " + image + ": " + line;
        }
        EXPECT_EQ(result.err, named);
    }
    EXPECT_NE(sim.Report().find("\"sessions\": []"), std::string::npos);
}

// A station's program gets its options from the table that parses them: each option, written
// back (in the table's order), reads as itself.
TEST(CliTest, OptionsWrittenAsArgumentsReadBackAsThemselves) {
    const std::string sha256(64, 'a');
    for (const std::string& line : std::vector<std::string>{
             "--port /dev/ttyUSB0 --station-board 3 --baud 115200 --monitor m.h86 --record r.jsonl "
             "--erase-all --echo-window 64 --serial-at 0x1FF00 --serial-format dec:6 "
             "--serial-placeholder 303030303030 --station-serial 16 --station-image i.hex "
             "--station-image-sha256 " +
                 sha256 + " -- -image.hex",
             "--port a --port b --repeat=replug --target virt --station-silence 45 --serial-at "
             "0x100 --serial-format le:4 --serial-counter c --serial-start 7 -- img",
             "--port a --repeat --baud 1000000 --monitor m --init-only",
             "--targets T --list-ports --list-targets"}) {
        std::vector<std::string> args;
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            args.push_back(word);
        }
        const Result<CliOptions> options = ParseCliOptions(args);
        ASSERT_TRUE(options) << options.error().text;
        EXPECT_EQ(CliArguments(*options), args);
    }
}

TEST(CliTest, UsageErrorsEndWithStatus2) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"-t", "Virtual Target", kDemo},                                 // no port
        {"-p", "/dev/x", kDemo},                                         // no target
        {"-p", "/dev/x", "-t", "Virtual Target", "-m", "m.h86", kDemo},  // both
        {"-p", "/dev/x", "-t", "Virtual Target", "-b", "299", kDemo},
        {"-p", "/dev/x", "-t", "Virtual Target", "-b", "4000001", kDemo},
        {"-p", "/dev/x", "-t", "Virtual Target", "-b", "0x1C200", kDemo},
        {"-p", "/dev/x", "-t", "Virtual Target", "--init-only", kDemo},
        {"-p", "/dev/x", "-t", "Virtual Target"},  // nothing to program
        {"-p", "/dev/x", "-t", "Virtual Target", "--frobnicate", kDemo},
        {"-p", "/dev/x", "-t", "Virtual Target", kDemo, kDemo},
        {"--list-targets", kDemo},
        {"--list-ports", "--record", "r.jsonl"},
        {"-p", "/dev/x", "-t", "Virtual Target", "--record=", kDemo},
        {"-p", "/dev/x,,/dev/y", "-t", "Virtual Target", kDemo},
        {"-p", "/dev/x", "-p", "/dev/y,/dev/x", "-t", "Virtual Target", kDemo},
        {"-p", "/dev/x", "-t", "Virtual Target", "--repeat=sometimes", kDemo},
        {"-p", "/dev/null,/dev/./null", "-t", "Virtual Target", kDemo},  // one device
        {"--list-ports", "--repeat"},
        {"-p", "/dev/x", "-t", "Virtual Target", "--record", kDemo, kDemo},  // the image itself
        {"-p", "/dev/x", "-t", "Virtual Target", "--echo-window", "0", kDemo},
        {"-p", "/dev/x", "-t", "Virtual Target", "--echo-window", "1025", kDemo},
        {"-p", "/dev/x", "-t", "Virtual Target", "--echo-window=8x", kDemo},
        // Serial numbers: a place, a format and one source, with an image.
        {"-p", "/dev/x", "-t", "Virtual Target", "--serial-at", "0x100", kDemo},
        {"-p", "/dev/x", "-t", "Virtual Target", "--serial-format", "dec:4", "--serial-counter",
         "c", kDemo},
        {"-p", "/dev/x", "-t", "Virtual Target", "--serial-at", "0x100", "--serial-format", "dec:4",
         "--serial-counter", "c", "--serial-list", "l", kDemo},
        {"-p", "/dev/x", "-t", "Virtual Target", "--serial-at", "0x100", "--serial-format", "dec:0",
         "--serial-counter", "c", kDemo},
        {"-p", "/dev/x", "-t", "Virtual Target", "--serial-at", "0x100", "--serial-format", "dec:4",
         "--serial-counter", "c", "--serial-placeholder", "30", kDemo},
        {"-p", "/dev/x", "-t", "Virtual Target", "--serial-start", "5", kDemo},
        {"-p", "/dev/x", "-t", "Virtual Target", "--serial-at", "196608", "--serial-format",
         "dec:4", "--serial-counter", "c", kDemo},  // hexadecimal needs its 0x
        {"-p", "/dev/x", "-t", "Virtual Target", "--init-only", "--serial-at", "0x100",
         "--serial-format", "dec:4", "--serial-counter", "c"},
    };
    for (const auto& args : cases) {
        const ProcessResult result = Cli(args);
        std::string joined;
        for (const auto& a : args) {
            joined += a + " ";
        }
        EXPECT_EQ(result.exitCode, 2) << joined;
        EXPECT_EQ(result.out, "") << joined;
        EXPECT_NE(result.err.find("quillon-cli: "), std::string::npos) << joined;
    }
    const ProcessResult unknown = Cli({"-p", "/dev/x", "-t", "Nonesuch", "--init-only"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("unknown target 'Nonesuch'; known targets:\n  Virtual Target"),
              std::string::npos)
        << unknown.err;
    for (const std::string& program : {kCli, kSim}) {
        const ProcessResult version = RunProcess({program, "--version"});
        EXPECT_EQ(version.exitCode, 0);
        EXPECT_EQ(version.out, "Quillon Version " QUILLON_VERSION "\n");
    }
    const ProcessResult help = Cli({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: quillon-cli"), std::string::npos);
}

TEST(CliTest, SigintDuringProgrammingAbortsWithoutFinalize) {
    Sim sim({"--program-ms", "5"});
    ProcessOptions options;
    bool sent = false;
    options.onOutput = [&](const std::string& out, int pid) {
        if (!sent && out.find("Programming sector 0! **") != std::string::npos) {
            kill(pid, SIGINT);
            sent = true;
        }
    };
    const ProcessResult result = Cli({"-p", sim.port(), "-t", "Virtual Target", kDemo}, options);
    EXPECT_TRUE(sent);
    EXPECT_EQ(result.exitCode, 130);
    EXPECT_NE(result.out.find("*\nAborted by user!\n"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("Finalizing"), std::string::npos);
    EXPECT_EQ(result.out.rfind("Aborted by user!\n"), result.out.size() - 17) << "the last line";
    EXPECT_NE(sim.Report().find("\"finalized\": 0\n"), std::string::npos);
}

// Whatever becomes of the log (a closed stream, a full disk, a reader that goes away), the
// job runs to its end on the target, nothing of the log reaches the serial line, and the exit
// status never says success for a run whose log was lost.
TEST(CliTest, ALostLogNeverEndsWithStatus0) {
    TempDir dir;
    std::ifstream demo(kDemo);
    std::stringstream demoText;
    demoText << demo.rdbuf();
    // An unknown record type: the reader says so on stderr and goes on.
    const std::string noisy = dir.Write("noisy.hex", ":00000006FA\n" + demoText.str());
    struct Case {
        const char* name;
        std::string image;
        std::string stdoutTo, stderrTo;
        int stdoutLines;
        std::string err;  // what stderr says, when it is read
    };
    const std::vector<Case> cases = {
        {"stdout closed", kDemo, "-", "", 0,
         "quillon-cli: the log could not be written (standard output was closed)\n"},
        {"stdout full", kDemo, "/dev/full", "", 0,
         "quillon-cli: the log could not be written (standard output: No space left on "
         "device)\n"},
        {"reader gone after 11 lines", kDemo, "", "", 11,
         "quillon-cli: the log could not be written (standard output: Broken pipe)\n"},
        {"stderr closed, a reader message", noisy, "", "-", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sim sim;
        ProcessOptions options;
        options.stdoutTo = c.stdoutTo;
        options.stderrTo = c.stderrTo;
        options.stdoutLines = c.stdoutLines;
        const ProcessResult result =
            Cli({"-p", sim.port(), "-t", "Virtual Target", c.image}, options);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err, c.err);
        const std::string report = sim.Report();
        EXPECT_NE(report.find("\"finalized\": 1\n"), std::string::npos) << report;
        EXPECT_NE(report.find("\"noiseIgnored\": 0,"), std::string::npos) << report;
    }
}

// Whatever a path or a log line holds, the record line stays valid JSON.
TEST(CliTest, RecordStringsAreEscapedJson) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain", "\"plain\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {std::string("\t\n\x1b\x7f", 4) + std::string(1, '\0'),
         "\"\\u0009\\u000A\\u001B\x7f\\u0000\""},
        {"Öffnen \xE2\x82\xAC \xF0\x9F\x94\xA7", "\"Öffnen \xE2\x82\xAC \xF0\x9F\x94\xA7\""},
        // A stray continuation byte, an overlong form, a surrogate, a cut sequence, beyond
        // U+10FFFF: each byte that is no part of valid UTF-8 becomes U+FFFD.
        {"\x80|\xC0\xAF|\xED\xA0\x80|\xE2\x82|\xF5\x80",
         "\"\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|"
         "\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\""},
    };
    for (const auto& [text, json] : cases) {
        EXPECT_EQ(JsonString(text), json) << text;
    }
}

// Each board appends one JSON line to the record file, read back here by a JSON parser; a
// record file that cannot be opened ends the run before the target is touched.
TEST(CliTest, RecordAppendsOneJsonLinePerBoard) {
    TempDir dir;
    const std::string record = (dir.path() / "record.jsonl").string();
    // The number of lines and the last line's fields, "|"-separated.
    const std::string check =
        "import json, re, socket, sys\n"
        "text = open(sys.argv[1], encoding='utf-8').read()\n"
        "assert text.endswith('\\n')\n"
        "rows = [json.loads(line) for line in text.splitlines()]\n"
        "r = rows[-1]\n"
        "print(len(rows), r['result'], r['failure'], r['image'] == sys.argv[3], r['imageSha256'],\n"
        "      r['board'], r['target'], r['eraseAll'], r['port'] == sys.argv[2],\n"
        "      r['host'] == socket.gethostname(), r['monitorFile'].endswith('.h86'),\n"
        "      bool(re.fullmatch(r'\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ', r['time'])),\n"
        "      r['initSeconds'] > 0, r['downloadSeconds'] > 0, sep='|')\n";
    std::string sha;
    ASSERT_TRUE(Sha256OfFile(kDemo, sha));
    const std::string same =
        "|True|" + sha + "|1|Virtual Target|False|True|True|True|True|True|True\n";
    struct Case {
        std::vector<std::string> simOptions;
        int exitCode;
        std::string fields;
    };
    // The same file each time: the second board's line comes after the first one's.
    const std::vector<Case> cases = {
        {{}, 0, "1|ok|None" + same},
        {{"--crc-error-at", "block@3"}, 1, "2|failed|Wrong CRC!" + same},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fields);
        Sim sim(c.simOptions);
        const ProcessResult result =
            Cli({"-p", sim.port(), "-t", "Virtual Target", "--record", record, kDemo});
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(result.err, "");
        const ProcessResult read =
            RunProcess({"/usr/bin/env", "python3", "-c", check, record, sim.port(), kDemo});
        EXPECT_EQ(read.out, c.fields) << read.err;
    }

    // A line that cannot be written whole (here: beyond the file size limit) is no success.
    {
        Sim sim;
        const ProcessResult full = RunProcess(
            {"/usr/bin/prlimit", "--fsize=" + std::to_string(std::filesystem::file_size(record)),
             "--", kCli, "-p", sim.port(), "-t", "Virtual Target", "--record", record, kDemo});
        EXPECT_EQ(full.exitCode, 1);
        EXPECT_EQ(full.err, "quillon-cli: the record line could not be written to " + record +
                                " (File too large)\n");
        EXPECT_NE(sim.Report().find("\"finalized\": 1\n"), std::string::npos);
    }
    // A line cut short by the limit is taken back whole; a fragment that something else left
    // gets a line end of its own, so the next board's line is whole.
    {
        const auto before = std::filesystem::file_size(record);
        Sim sim;
        const ProcessResult cut =
            RunProcess({"/usr/bin/prlimit", "--fsize=" + std::to_string(before + 100), "--", kCli,
                        "-p", sim.port(), "-t", "Virtual Target", "--record", record, kDemo});
        EXPECT_EQ(cut.exitCode, 1);
        EXPECT_EQ(std::filesystem::file_size(record), before);
        std::ofstream(record, std::ios::app) << "{\"time\": \"torn";
        Sim next;
        EXPECT_EQ(
            Cli({"-p", next.port(), "-t", "Virtual Target", "--record", record, kDemo}).exitCode,
            0);
        const ProcessResult read = RunProcess(
            {"/usr/bin/env", "python3", "-c",
             "import json, sys\n"
             "lines = open(sys.argv[1], encoding='utf-8').read().split('\\n')\n"
             "print(len(lines), lines[-3], json.loads(lines[-2])['result'], repr(lines[-1]))\n",
             record});
        EXPECT_EQ(read.out, "5 {\"time\": \"torn ok ''\n") << read.err;
    }

    const std::string fifo = (dir.path() / "pipe").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& unopenable :
         {dir.path().string(), (dir.path() / "no-such-folder" / "r.jsonl").string(), fifo}) {
        SCOPED_TRACE(unopenable);
        Sim sim;
        const ProcessResult result =
            Cli({"-p", sim.port(), "-t", "Virtual Target", "--record", unopenable, kDemo});
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind(
                      "quillon-cli: the record file " + unopenable + " cannot be opened (", 0),
                  0u)
            << result.err;
        EXPECT_NE(sim.Report().find("\"sessions\": []"), std::string::npos);
    }
}

// The record's answer times, and the advice on a latency timer that holds the answers back:
// once, after the download, on stderr. The pseudo-terminal has no wire time, so at 115200
// each answer counts as late by the adapter's tick less a block's 12 ms on the wire.
TEST(CliTest, TheRecordTimesTheAnswersAndALateAdapterIsAdvisedOnce) {
    TempDir dir;
    std::string text;
    for (std::uint16_t at = 0; at < 1024; at += 128) {
        text += hex_text::Data(at, hex_text::Pattern(128, at));
    }
    const std::string image = dir.Write("small.hex", text + hex_text::End());
    const std::string record = (dir.path() / "record.jsonl").string();
    // "None" for no times, else whether the delay shows a latency timer.
    const std::string check =
        "import json, sys\n"
        "r = json.loads(open(sys.argv[1], encoding='utf-8').read().splitlines()[-1])\n"
        "d, b = r['answerDelayMs'], r['downloadBytesPerSecond']\n"
        "print('None' if d is None and b is None else f'{d > 4} {b > 0}')\n";
    struct Case {
        std::vector<std::string> simOptions;
        std::vector<std::string> cliOptions;
        int exitCode;
        std::string times;
        bool advised;
    };
    const std::vector<Case> cases = {
        {{"--latency-us", "30000"}, {}, 0, "True True\n", true},
        {{}, {}, 0, "False True\n", false},
        {{"--latency-us", "30000"}, {"--init-only"}, 0, "None\n", false},
        {{"--crc-error-at", "block@0"}, {}, 1, "None\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.times + (c.simOptions.empty() ? "" : c.simOptions[0]));
        Sim sim(c.simOptions);
        // The echo window keeps the monitor's upload from waiting a tick for every byte.
        std::vector<std::string> args = {
            "-p",     sim.port(),      "-t",   "Virtual Target", "-b",
            "115200", "--echo-window", "1024", "--record",       record};
        args.insert(args.end(), c.cliOptions.begin(), c.cliOptions.end());
        if (c.cliOptions.empty()) {
            args.push_back(image);
        }
        const ProcessResult result = Cli(args);
        EXPECT_EQ(result.exitCode, c.exitCode);
        const std::string advice = "quillon-cli: " + sim.port() + ": the target's answers came ";
        if (c.advised) {
            EXPECT_EQ(result.err.rfind(advice, 0), 0u) << result.err;
            EXPECT_TRUE(IsLatencyTimerAdvice(result.err)) << result.err;
            EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        } else {
            EXPECT_EQ(result.err.find(advice), std::string::npos) << result.err;
        }
        const ProcessResult read = RunProcess({"/usr/bin/env", "python3", "-c", check, record});
        EXPECT_EQ(read.out, c.times) << read.err;
    }
}

TEST(CliTest, ProgressBarOnlyOnATerminal) {
    Terminal terminal;
    Sim sim({"--baud", "115200"});
    ProcessOptions options;
    options.stderrTerminal = terminal.name();
    const ProcessResult result = Cli({"-p", sim.port(), "-t", "Virtual Target", kDemo}, options);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(terminal.Text().find("Programming ["), std::string::npos) << terminal.Text();
    EXPECT_NE(terminal.Text().find("Monitor upload"), std::string::npos);
    EXPECT_EQ(result.out.find('\r'), std::string::npos) << "stdout holds log lines only";

    // Log and bar on one 80-column terminal: once a sector's line leaves no room behind it,
    // the bar takes the row below and the cursor goes back up to the line's end.
    Terminal shared;
    shared.Resize(24, 80);
    Sim second({"--baud", "115200"});
    options.stderrTerminal = shared.name();
    options.stdoutTo = shared.name();
    EXPECT_EQ(Cli({"-p", second.port(), "-t", "Virtual Target", kDemo}, options).exitCode, 0);
    EXPECT_NE(shared.Text().find("\n\rProgramming ["), std::string::npos) << shared.Text();
    EXPECT_NE(shared.Text().find("\033[A\r\033["), std::string::npos) << shared.Text();
}

// The bar keeps one form from the first block to the last: the bytes, the rate and the time
// left, timed on the clock it is given, in any width from 40 columns.
TEST(CliTest, TheProgressBarKeepsItsFormAtAnyWidth) {
    struct Step {
        std::uint64_t ms;
        std::uint32_t done;
    };
    struct Case {
        std::uint32_t total;
        std::vector<Step> steps;
        int width;
        std::vector<std::string> shows;  // the bytes, the rate and the time left
    };
    const Case cases[] = {
        {65536, {{0, 1024}, {1000, 17408}}, 79, {"17.0/64.0 KB", "16.0 KB/s", "0:03 left"}},
        {65536, {{0, 1024}, {1000, 17408}}, 39, {"17.0/64.0 KB", "16.0 KB/s", "0:03 left"}},
        // The first block: no rate yet.
        {6144, {{500, 128}}, 39, {"0.1/6.0 KB", "--.- KB/s", "-:-- left"}},
        {1u << 20, {{0, 0}, {2000, 524288}}, 39, {"512/1024 KB", "256.0 KB/s", "0:02 left"}},
        // The next job is timed anew.
        {65536,
         {{0, 1024}, {1000, 65536}, {5000, 1024}, {6000, 9216}},
         79,
         {"9.0/64.0 KB", "8.0 KB/s", "0:07 left"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shows[0] + " in " + std::to_string(c.width));
        VirtualClock clock;
        ProgressMeter meter(clock);
        for (const Step& step : c.steps) {
            clock.SleepUntilMs(step.ms);
            meter.Update(ProgressPhase::kProgramming, step.done, c.total);
        }
        const std::string text = meter.Text(c.width);
        EXPECT_LE(static_cast<int>(text.size()), c.width) << text;
        for (const std::string& part : c.shows) {
            EXPECT_NE(text.find(part), std::string::npos) << text;
        }
        // Wide enough for the whole form, the bar fills the width.
        EXPECT_EQ(meter.FitsWhole(c.width), text.size() == static_cast<std::size_t>(c.width))
            << text;
        EXPECT_EQ(meter.FitsWhole(c.width), c.width >= 79) << text;
    }
}

// Log and bar on one terminal of 40 and of 80 columns: every bar drawn has its bytes, rate and
// time left, and the run's verdict is the last line on the screen.
TEST(CliTest, OneBarFormAndTheVerdictLastOnATerminal) {
    for (const unsigned short columns : {40, 80}) {
        SCOPED_TRACE(columns);
        Terminal terminal;
        terminal.Resize(24, columns);
        Sim sim({"--program-ms", "2"});
        ProcessOptions options;
        options.stderrTerminal = terminal.name();
        options.stdoutTo = terminal.name();
        EXPECT_EQ(Cli({"-p", sim.port(), "-t", "Virtual Target", kDemo}, options).exitCode, 0);
        const std::string& text = terminal.Text();
        const auto count = [&text](const char* pattern) {
            const std::regex re(pattern);
            return std::distance(std::sregex_iterator(text.begin(), text.end(), re),
                                 std::sregex_iterator());
        };
        const auto bars = count(R"(\d+\.\d/\d+\.\d KB )");
        EXPECT_GT(bars, 0) << text;
        EXPECT_EQ(count(R"(\d+\.\d/\d+\.\d KB +(--\.-|\d+\.\d) KB/s +(-:--|\d+:\d\d) left)"), bars)
            << text;
        EXPECT_GT(count(R"(\d+\.\d KB/s +\d+:\d\d left)"), 0) << text;
        EXPECT_TRUE(std::regex_search(text, std::regex(R"(quillon-cli: OK \(\d+\.\ds\)\r\n$)")))
            << text;
    }
}

// The verdict of a single run comes from its result, on a terminal only.
TEST(CliTest, ASingleRunEndsWithItsVerdictOnATerminal) {
    struct Case {
        std::vector<std::string> sim;
        bool interrupt;  // SIGINT once programming has begun
        int status;
        const char* verdict;
    };
    const Case cases[] = {
        {{}, false, 0, R"((\n|\x1b\[K)quillon-cli: OK \(\d+\.\ds\)\r\n$)"},
        {{"--crc-error-at", "block@3"},
         false,
         1,
         R"((\n|\x1b\[K)quillon-cli: FAILED: Wrong CRC!\r\n$)"},
        {{"--program-ms", "20"}, true, 130, R"((\n|\x1b\[K)quillon-cli: ABORTED\r\n$)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.verdict);
        Terminal terminal;
        Sim sim(c.sim);
        ProcessOptions options;
        options.stderrTerminal = terminal.name();
        bool sent = false;
        options.onOutput = [&](const std::string& out, int pid) {
            if (c.interrupt && !sent && out.find("Programming sector") != std::string::npos) {
                sent = true;
                kill(pid, SIGINT);
            }
        };
        EXPECT_EQ(Cli({"-p", sim.port(), "-t", "Virtual Target", kDemo}, options).exitCode,
                  c.status);
        EXPECT_TRUE(std::regex_search(terminal.Text(), std::regex(c.verdict))) << terminal.Text();
    }
}

TEST(CliTest, ListsTargetsAndPorts) {
    TempDir dir;
    MonitorFileSpec board;
    board.targetName = "Board A";
    dir.Write("board.h86", board.HexText());
    dir.Write("Mon_Plain.h86", ":00000001FF\n");
    dir.Write("Broken.h86", ":0100000011EF\n");
    MonitorFileSpec steering;
    steering.targetName = "Tab\tEsc\x1b[2J";
    dir.Write("steering.h86", steering.HexText());
    const ProcessResult targets = Cli({"--list-targets", "--targets", dir.path().string()});
    EXPECT_EQ(targets.exitCode, 0);
    EXPECT_EQ(targets.out, "Board A\t" + (dir.path() / "board.h86").string() + "\nBroken\t" +
                               (dir.path() / "Broken.h86").string() + "\nPlain\t" +
                               (dir.path() / "Mon_Plain.h86").string() + "\nTab\\x09Esc\\x1B[2J\t" +
                               (dir.path() / "steering.h86").string() + "\n");
    EXPECT_EQ(targets.err, "quillon-cli: " + (dir.path() / "Broken.h86").string() + ": Fehler\n");

    // Two files under one name: which one is meant cannot be told.
    dir.Write("board-copy.h86", board.HexText());
    const ProcessResult twice =
        Cli({"-p", "/dev/x", "-t", "board a", "--init-only", "--targets", dir.path().string()});
    EXPECT_EQ(twice.exitCode, 2);
    EXPECT_NE(twice.err.find("several monitor files carry the name 'Board A':\n  " +
                             (dir.path() / "board-copy.h86").string() + "\n  " +
                             (dir.path() / "board.h86").string() + "\n"),
              std::string::npos)
        << twice.err;

    // A virtual target announces its port; the listing shows it.
    TempDir runtime;
    BackgroundProcess announced({kSim}, {{"XDG_RUNTIME_DIR", runtime.path().string()}});
    ASSERT_FALSE(announced.ReadLine().empty());
    ProcessOptions options;
    options.environment = {{"XDG_RUNTIME_DIR", runtime.path().string()}};
    const ProcessResult ports = Cli({"--list-ports"}, options);
    EXPECT_EQ(ports.exitCode, 0);
    const std::string link =
        (runtime.path() / "quillon" / "ports" / ("quillon-sim-" + std::to_string(announced.pid())))
            .string();
    EXPECT_NE(ports.out.find(link + "\tQuillon virtual target\n"), std::string::npos) << ports.out;

    // The user's list of ports: a NUL in a name shown escaped, a line that is no entry named on
    // stderr.
    TempDir config;
    std::filesystem::create_directory(config.path() / "quillon");
    const char list[] = "A\0B\tsocket://h:1\nno tab\n";
    const std::string listFile = config.Write("quillon/ports", std::string(list, sizeof list - 1));
    options.environment["XDG_CONFIG_HOME"] = config.path().string();
    const ProcessResult listed = Cli({"--list-ports"}, options);
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_NE(listed.out.find("socket://h:1\tA\\x00B (network port)\n"), std::string::npos)
        << listed.out;
    EXPECT_EQ(listed.err, "quillon-cli: " + listFile +
                              ": line 2 left out: neither NAME<TAB>PORT nor a network port's URL: "
                              "'no tab'\n");
}

// The events between a station's program and its run: every kind survives the trip whatever
// its text holds; a line that is no event is told apart.
TEST(CliProductionTest, StationEventsRoundTrip) {
    const std::vector<JobEvent> events = {
        JobEvent::Line("Erasing sector 0!"),
        JobEvent::Append("*"),
        JobEvent::Message("a\\b\nc\r\td\\n"),
        JobEvent::ReaderMessage("a\tb.hex", "x\\"),
        JobEvent::FlashedDigest(std::string(64, 'f')),
        JobEvent::Alive(),
        JobEvent::Progress(ProgressPhase::kProgramming, 4096, 4294967295u),
        JobEvent::BoardEnd({JobOutcome::kAborted, FailureReason::kAborted, "Wrong CRC!\n"})};
    for (const JobEvent& event : events) {
        const std::string line = EncodeJobEvent(event);
        ASSERT_EQ(line.find('\n'), line.size() - 1) << line;
        const Result<JobEvent> back = DecodeJobEvent(line.substr(0, line.size() - 1));
        ASSERT_TRUE(back) << line;
        EXPECT_EQ(EncodeJobEvent(*back), line);
    }
    for (const char* stray :
         {"quillon-cli: the record line could not be written", "L", "L\tbad\\", "P\t3\t1\t2",
          "P\t2\t1", "P\t2\t1\t99999999999", "R\t256\tx", "R\t-1\tx", "X\ttext"}) {
        EXPECT_FALSE(DecodeJobEvent(stray)) << stray;
    }
}

TEST(CliProductionTest, SummaryTableAndRunningCount) {
    StationTotals a{"/dev/ttyUSB0", 17, 16, 1, 0, "ok", 8.44, "Wrong CRC!"};
    StationTotals b{"/dev/ttyUSB10\x1b", 3, 1, 1, 1, "aborted", 0.5, "Aborted by user!"};
    EXPECT_EQ(BoardCountLine(a), "board 17: ok \xE2\x80\x94 16 ok, 1 failed");
    EXPECT_EQ(BoardCountLine(b), "board 3: aborted \xE2\x80\x94 1 ok, 1 failed, 1 aborted");
    EXPECT_EQ(SummaryTable({a, b}, false),
              "port               result   seconds  failing line\n"
              "/dev/ttyUSB0       ok           8.4\n"
              "/dev/ttyUSB10\\x1B  aborted      0.5  Aborted by user!\n");
    EXPECT_EQ(SummaryTable({a, b}, true),
              "port               boards  ok  failed  aborted  last failing line\n"
              "/dev/ttyUSB0           17  16       1        0  Wrong CRC!\n"
              "/dev/ttyUSB10\\x1B       3   1       1        1  Aborted by user!\n");
}

// A station's program that closes its output and goes on is not waited for beyond a moment:
// the run must stay in reach of its abort.
TEST(CliProductionTest, AProgramThatEndsItsOutputButNotItselfIsKilled) {
    ChildProcess process;
    const Status started = process.Start({"/bin/sh", "-c", "echo L; exec >&- 2>&-; exec sleep 60"});
    ASSERT_TRUE(started) << started.error().text;
    std::vector<std::string> lines;
    while (process.Read(lines)) {
        pollfd output{static_cast<int>(process.WaitHandle()), POLLIN, 0};
        ASSERT_GT(poll(&output, 1, 20000), 0) << "its output neither came nor ended";
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(process.Wait(), 128 + SIGKILL);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(lines, std::vector<std::string>{"L"});
}

// The rows of the summary table that ends a production run: port -> the rest of its row.
std::map<std::string, std::string> SummaryRows(const std::string& out) {
    std::map<std::string, std::string> rows;
    const std::size_t table = out.rfind("\nport ");
    if (table == std::string::npos) {
        return rows;
    }
    std::istringstream lines(out.substr(table + 1));
    std::string line;
    std::getline(lines, line);  // the header
    while (std::getline(lines, line)) {
        const std::size_t gap = line.find("  ");
        const std::size_t rest = line.find_first_not_of(' ', gap);
        rows[line.substr(0, gap)] = rest == std::string::npos ? "" : line.substr(rest);
    }
    return rows;
}

// "port|result|board" per record line, sorted.
std::string RecordSummary(const std::string& record) {
    const std::string read =
        "import json, sys\n"
        "rows = [json.loads(l) for l in open(sys.argv[1], encoding='utf-8').read().splitlines()]\n"
        "print(*sorted(f\"{r['port']}|{r['result']}|{r['board']}\" for r in rows), sep='\\n')\n";
    const ProcessResult result = RunProcess({"/usr/bin/env", "python3", "-c", read, record});
    return result.out + result.err;
}

std::string ProgrammedSectors(const std::string& report) {
    return report.substr(report.find("\"programmedSectors\""));
}

// On a terminal each station has one status line below the log, redrawn in place; stdout,
// not a terminal here, carries whole prefixed log lines only.
TEST(CliProductionTest, OneStatusLinePerPortOnATerminal) {
    Terminal terminal;
    Sim a({"--program-ms", "5"});
    Sim b({"--program-ms", "5"});
    ProcessOptions options;
    options.stderrTerminal = terminal.name();
    const ProcessResult result =
        Cli({"-p", a.port() + "," + b.port(), "-t", "Virtual Target", kDemo}, options);
    const std::string& text = terminal.Text();
    EXPECT_EQ(result.exitCode, 0);
    for (const Sim* sim : {&a, &b}) {
        // The ports' column is as wide as the longest name.
        EXPECT_TRUE(std::regex_search(text, std::regex(sim->port() + " +board 1  Programming ")))
            << text;
    }
    EXPECT_NE(text.find("\033[2A\r\033[J"), std::string::npos) << "erased in place";
    EXPECT_EQ(result.out.find('\033'), std::string::npos) << result.out;

    // More stations than the terminal has rows: the block keeps to its height.
    Terminal low;
    low.Resize(3, 80);
    Sim c;
    options.stderrTerminal = low.name();
    EXPECT_EQ(Cli({"-p", a.port() + "," + b.port() + "," + c.port(), "-t", "Virtual Target", kDemo},
                  options)
                  .exitCode,
              0);
    EXPECT_NE(low.Text().find("\n... and 2 more stations\r\n"), std::string::npos) << low.Text();
    EXPECT_EQ(low.Text().find("\033[3A"), std::string::npos) << low.Text();
}

// While the status lines are shown the operator's typing is not echoed (their redraw would
// miss a row and leave old ones behind); the echo comes back however the run ends, also when
// it dies of a signal. The opening hint is wrapped at words.
TEST(CliProductionTest, TheStatusLinesKeepTheTypingOffTheScreen) {
    // A run ended by SIGQUIT leaves no core file behind.
    rlimit core{};
    getrlimit(RLIMIT_CORE, &core);
    core.rlim_cur = 0;
    setrlimit(RLIMIT_CORE, &core);
    const std::string hint =
        "quillon-cli: after each board its station waits: Enter starts every waiting station, q "
        "and Enter ends them";
    struct Case {
        const char* typed;  // typed after the first board, else
        int signal;         // sent then
        int status;
    };
    for (const Case& c : {Case{"q\n", 0, 0}, Case{nullptr, SIGTERM, 0}, Case{nullptr, SIGHUP, 0},
                          Case{nullptr, SIGQUIT, 128 + SIGQUIT}}) {
        SCOPED_TRACE(c.signal);
        Terminal terminal;
        terminal.Resize(24, 40);
        Sim sim;
        ProcessOptions options;
        options.stderrTerminal = terminal.name();
        options.stdinFrom = terminal.name();
        bool echoedDuringTheRun = true;
        bool done = false;
        options.onOutput = [&](const std::string& out, int pid) {
            if (!done && out.find(": board 1: ") != std::string::npos) {
                done = true;
                echoedDuringTheRun = terminal.Echoes();
                if (c.typed != nullptr) {
                    terminal.Type(c.typed);
                } else {
                    kill(pid, c.signal);
                }
            }
        };
        EXPECT_EQ(
            Cli({"-p", sim.port(), "--repeat", "-t", "Virtual Target", kDemo}, options).exitCode,
            c.status);
        EXPECT_FALSE(echoedDuringTheRun);
        EXPECT_TRUE(terminal.Echoes());
        const std::string& text = terminal.Text();
        EXPECT_EQ(text.find("q\r\n"), std::string::npos) << text;
        // The hint in rows of at most 39 columns, broken between words only.
        const std::size_t start = text.find("quillon-cli: after");
        const std::size_t end = text.find("them\r\n", start);
        ASSERT_NE(end, std::string::npos) << text;
        std::string rows = text.substr(start, end + 4 - start);
        std::size_t breaks = 0;
        for (std::size_t row = 0, at; (at = rows.find("\r\n", row)) != std::string::npos;
             ++breaks) {
            EXPECT_LE(at - row, 39u) << rows;
            rows[at] = ' ';
            rows.erase(at + 1, 1);
            row = at + 1;
        }
        EXPECT_EQ(rows, hint);
        EXPECT_GT(breaks, 1u);
    }
}

// Station lines wider than the terminal go on in rows of their own below the text, past the
// port; a pipe gets each line whole, as it always did.
TEST(CliProductionTest, StationLinesWrapAtWordsOnATerminalOnly) {
    for (const unsigned short columns : {0, 40, 80}) {  // 0: stdout is a pipe
        SCOPED_TRACE(columns);
        Terminal terminal;
        terminal.Resize(24, columns);
        Sim a;
        Sim b;
        ProcessOptions options;
        options.stderrTerminal = terminal.name();
        if (columns != 0) {
            options.stdoutTo = terminal.name();
        }
        const ProcessResult result =
            Cli({"-p", a.port() + "," + b.port(), "-t", "Virtual Target", kDemo}, options);
        EXPECT_EQ(result.exitCode, 0);
        for (const Sim* sim : {&a, &b}) {
            const std::string line = sim->port() + ": Programming sector 0!";
            if (columns == 0) {
                EXPECT_NE(result.out.find(line + " " + std::string(52, '*') + "\n"),
                          std::string::npos)
                    << result.out;
            } else {
                // The stars go on in rows that start past the port, none wider than the terminal.
                const std::string& text = terminal.Text();
                std::size_t row = text.find(line);
                ASSERT_NE(row, std::string::npos) << text;
                const std::string indent(sim->port().size() + 2, ' ');
                std::size_t stars = 0;
                for (bool first = true; stars < 52; first = false) {
                    const std::size_t end = text.find("\r\n", row);
                    ASSERT_NE(end, std::string::npos) << text;
                    const std::string shown = text.substr(row, end - row);
                    EXPECT_LE(shown.size(), columns - 1u) << shown;
                    EXPECT_EQ(shown.rfind(first ? line : indent, 0), 0u) << shown;
                    stars += static_cast<std::size_t>(std::count(shown.begin(), shown.end(), '*'));
                    row = end + 2;
                }
                EXPECT_EQ(stars, 52u);
            }
        }
    }
}

// With --repeat=replug an empty fixture waits for its first board, and a port that turns out
// to be a second name of another station's device, once it appears, is refused instead of
// failing every board.
TEST(CliProductionTest, AnEmptyFixtureWaitsAndASecondNameIsRefused) {
    TempDir dir;
    const std::string port = (dir.path() / "ttyBOARD").string();
    const std::string alias = (dir.path() / "ttyALIAS").string();
    std::filesystem::create_symlink(port, alias);
    const std::string record = (dir.path() / "record.jsonl").string();
    std::unique_ptr<Sim> board;
    // The board comes whenever the operator plugs it in, here once the run is under way: it
    // has made its record file and, a moment later, checked its ports while neither existed
    // (the run shows no sign of that check; a board there before it is refused as a usage
    // error, which is another case).
    std::thread plug([&] {
        EXPECT_TRUE(
            WaitUntil([&] { return std::filesystem::exists(record); }, std::chrono::seconds(30)));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        board = std::make_unique<Sim>(std::vector<std::string>{"--link", port});
    });
    bool stopped = false;
    ProcessOptions options;
    options.onOutput = [&](const std::string& out, int pid) {
        if (!stopped && out.find(port + ": board 1: ok") != std::string::npos) {
            stopped = true;
            kill(pid, SIGINT);
        }
    };
    const ProcessResult result = Cli({"-p", port + "," + alias, "-t", "Virtual Target",
                                      "--repeat=replug", "--record", record, kDemo},
                                     options);
    plug.join();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(result.exitCode, 2) << result.out << result.err;
    EXPECT_NE(result.err.find(alias + ": ports " + port + " and " + alias +
                              " are the same device: " + alias + " is not used\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(RecordSummary(record), port + "|ok|1\n");
    const std::map<std::string, std::string> rows = SummaryRows(result.out);
    ASSERT_EQ(rows.size(), 2u) << result.out;
    EXPECT_EQ(rows.at(port), "1   1       0        0");
    EXPECT_EQ(rows.at(alias).rfind("0   0       0        0  ports ", 0), 0u) << rows.at(alias);
}

// --echo-window reaches the single run's Initialize and every station's: against a loader that
// takes a byte only every 200 µs into a one-byte buffer, a window of 32 loses a byte and fails
// on its echo (lock step against such a loader succeeds: job_e2e_test).
TEST(CliProductionTest, TheEchoWindowReachesEveryInitialize) {
    const std::vector<std::string> slowLoader = {"--baud", "115200",  "--rx-fifo",
                                                 "1",      "--rx-us", "200"};
    Sim single(slowLoader);
    const ProcessResult run =
        Cli({"-p", single.port(), "-t", "Virtual Target", "--echo-window", "32", "--init-only"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("\nWrong answer (Set 0x"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Monitor started!"), std::string::npos) << run.out;

    Sim a(slowLoader);
    Sim b(slowLoader);
    const ProcessResult production = Cli({"-p", a.port() + "," + b.port(), "-t", "Virtual Target",
                                          "--echo-window=32", "--init-only"});
    EXPECT_EQ(production.exitCode, 1);
    const std::map<std::string, std::string> rows = SummaryRows(production.out);
    ASSERT_EQ(rows.size(), 2u) << production.out;
    for (Sim* sim : {&a, &b}) {
        EXPECT_NE(rows.at(sim->port()).find("Wrong answer (Set 0x"), std::string::npos)
            << production.out;
        EXPECT_EQ(sim->Report().find("\"overruns\": 0,"), std::string::npos);
    }
}

// Three ports at once, one of them faulty: the other two get exactly the image, every log
// line says its port, the summary and the exit status say which one failed.
TEST(CliProductionTest, ThreePortsAtOnceOneFaulty) {
    Sim reference;
    ASSERT_EQ(Cli({"-p", reference.port(), "-t", "Virtual Target", kDemo}).exitCode, 0);
    const std::string image = ProgrammedSectors(reference.Report());

    TempDir dir;
    const std::string record = (dir.path() / "record.jsonl").string();
    Sim a;
    Sim faulty({"--crc-error-at", "block@3"});
    Sim b;
    const ProcessResult result = Cli({"-p", a.port() + "," + faulty.port(), "-p", b.port(), "-t",
                                      "Virtual Target", "--record", record, kDemo});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "");
    const std::map<std::string, std::string> rows = SummaryRows(result.out);
    ASSERT_EQ(rows.size(), 3u) << result.out;
    EXPECT_EQ(rows.at(a.port()).substr(0, 3), "ok ");
    EXPECT_EQ(rows.at(b.port()).substr(0, 3), "ok ");
    EXPECT_EQ(rows.at(faulty.port()).rfind("failed", 0), 0u);
    EXPECT_EQ(rows.at(faulty.port()).substr(rows.at(faulty.port()).size() - 12), "  Wrong CRC!");
    std::istringstream lines(result.out.substr(0, result.out.rfind("\n\nport ") + 1));
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(line.rfind(a.port() + ": ", 0) == 0 || line.rfind(b.port() + ": ", 0) == 0 ||
                    line.rfind(faulty.port() + ": ", 0) == 0)
            << line;
    }
    for (Sim* sim : {&a, &b}) {
        EXPECT_NE(result.out.find(sim->port() + ": Download finished successfully!\n"),
                  std::string::npos);
        EXPECT_EQ(ProgrammedSectors(sim->Report()), image);
    }
    EXPECT_NE(faulty.Report().find("\"finalized\": 0"), std::string::npos);
    std::vector<std::string> expected = {a.port() + "|ok|1", b.port() + "|ok|1",
                                         faulty.port() + "|failed|1"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(RecordSummary(record), Lines(expected));
}

// Stations board after board, driven as the operator drives them: an Enter on the terminal
// starts every waiting station, q ends them; or a board that brings its own port. Each case
// reacts to the log as it comes (a text seen on every port, then an action) and checks the
// summary rows, the record and the exit status. SIGINT aborts the boards in work; a SIGKILL
// of the run between boards loses no record line.
TEST(CliProductionTest, BoardAfterBoard) {
    Terminal terminal;
    const auto type = [&terminal](const char* text) {
        return [&terminal, text](int) { terminal.Type(text); };
    };
    const auto send = [](int signal) { return [signal](int pid) { kill(pid, signal); }; };

    TempDir dir;
    const std::string link = (dir.path() / "ttyBOARD").string();
    std::unique_ptr<Sim> plugged;
    const std::vector<std::string> fast = {"--sessions", "2"};
    const std::vector<std::string> slow = {"--program-ms", "20"};
    struct Step {
        std::string seenOnEveryPort;
        std::function<void(int pid)> action;
    };
    struct Case {
        const char* name;
        int stations;
        std::vector<std::string> simOptions;
        std::string repeat;
        std::vector<Step> steps;
        int exitCode;
        std::string row;  // every station's summary row
        int recordLinesPerStation;
        std::string result;  // of each record line
    };
    const std::vector<Case> cases = {
        {"Enter, then q",
         2,
         fast,
         "--repeat",
         {{"board 1: ok", type("\n")}, {"board 2: ok", type("q\n")}},
         0,
         "2   2       0        0",
         2,
         "ok"},
        // Only an empty line starts the next boards.
        {"other text, then quit",
         2,
         fast,
         "--repeat",
         {{"board 1: ok", type("next\n quit \n")}},
         0,
         "1   1       0        0",
         1,
         "ok"},
        {"SIGKILL of the run between boards",
         2,
         fast,
         "--repeat",
         {{"board 1: ok", type("\n")}, {"board 2: ok", send(SIGKILL)}},
         137,
         "",
         2,
         "ok"},
        // The stations notice that their run is gone and abort their boards on their own.
        {"SIGKILL of the run in the middle of the boards",
         2,
         slow,
         "",
         {{"Erasing sector 5!", send(SIGKILL)}},
         137,
         "",
         1,
         "aborted"},
        {"SIGINT in the middle of the boards",
         3,
         slow,
         "--repeat",
         {{"Erasing sector 5!", send(SIGINT)}},
         130,
         "1   0       0        1  Aborted by user!",
         1,
         "aborted"},
        {"a board with its own port, SIGINT while waiting",
         1,
         {"--link", link},
         "--repeat=replug",
         {{"board 1: ok",
           [&](int) {
               plugged.reset();  // the board goes, its port with it
               std::this_thread::sleep_for(std::chrono::milliseconds(500));
               plugged = std::make_unique<Sim>(std::vector<std::string>{"--link", link});
           }},
          {"board 2: ok", send(SIGINT)}},
         0,
         "2   2       0        0",
         2,
         "ok"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::unique_ptr<Sim>> sims;
        std::vector<std::string> ports;
        std::string portList;
        for (int i = 0; i < c.stations; ++i) {
            sims.push_back(std::make_unique<Sim>(c.simOptions));
            ports.push_back(c.repeat == "--repeat=replug" ? link : sims.back()->port());
            portList += (i == 0 ? "" : ",") + ports.back();
        }
        if (c.repeat == "--repeat=replug") {
            plugged = std::move(sims.back());
            sims.clear();
        }
        const std::string record = (dir.path() / (std::string(c.name) + ".jsonl")).string();
        std::size_t next = 0;
        ProcessOptions options;
        options.stdinFrom = terminal.name();
        options.timeoutMs = 60000;
        options.onOutput = [&](const std::string& out, int pid) {
            while (next < c.steps.size() &&
                   std::all_of(ports.begin(), ports.end(), [&](const std::string& port) {
                       return out.find(port + ": " + c.steps[next].seenOnEveryPort) !=
                              std::string::npos;
                   })) {
                c.steps[next++].action(pid);
            }
        };
        std::vector<std::string> args = {"-p",       portList, "-t", "Virtual Target",
                                         "--record", record};
        if (!c.repeat.empty()) {
            args.push_back(c.repeat);
        }
        args.push_back(kDemo);
        const ProcessResult result = Cli(args, options);
        EXPECT_EQ(next, c.steps.size());
        EXPECT_EQ(result.exitCode, c.exitCode) << result.out << result.err;
        const std::map<std::string, std::string> rows = SummaryRows(result.out);
        EXPECT_EQ(rows.size(), c.row.empty() ? 0u : ports.size()) << result.out;
        for (const auto& [port, row] : rows) {
            EXPECT_EQ(row, c.row) << port;
        }
        std::vector<std::string> expected;
        for (const std::string& port : ports) {
            for (int board = 1; board <= c.recordLinesPerStation; ++board) {
                expected.push_back(port + "|" + c.result + "|" + std::to_string(board));
            }
        }
        std::sort(expected.begin(), expected.end());
        // Stations whose run was killed may still be writing their lines.
        WaitUntil([&] { return RecordSummary(record) == Lines(expected); },
                  std::chrono::seconds(10));
        EXPECT_EQ(RecordSummary(record), Lines(expected));
        if (c.result == "aborted") {
            for (auto& sim : sims) {
                EXPECT_EQ(sim->Report().find("\"finalized\": 1"), std::string::npos);
            }
        }
    }
    plugged.reset();
}

// The programs that `parent` started whose command line holds `text`.
std::vector<int> ChildrenOf(int parent, const std::string& text) {
    std::vector<int> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream statFile(entry.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(statFile)), {});
        const std::size_t end = stat.rfind(") ");
        if (end == std::string::npos) {
            continue;  // ended between the listing and the read
        }
        std::istringstream fields(stat.substr(end + 2));
        std::string state;
        int ppid = 0;
        fields >> state >> ppid;
        std::ifstream cmdline(entry.path() / "cmdline");
        const std::string args((std::istreambuf_iterator<char>(cmdline)), {});
        if (ppid == parent && args.find(text) != std::string::npos) {
            children.push_back(std::stoi(name));
        }
    }
    return children;
}

// "port|board|result|failure" per record line, sorted; a line that is no JSON object fails.
std::string RecordResults(const std::string& record) {
    const std::string read =
        "import json, sys\n"
        "rows = [json.loads(l) for l in open(sys.argv[1], encoding='utf-8').read().splitlines()]\n"
        "print(*sorted(f\"{r['port']}|{r['board']}|{r['result']}|{r['failure']}\" for r in rows),"
        " sep='\\n')\n";
    const ProcessResult result = RunProcess({"/usr/bin/env", "python3", "-c", read, record});
    return result.out + result.err;
}

// Every board a production run starts ends with exactly one record line that says how it
// went, and the summary says the same: a station program that is killed, a hang-up of the
// whole run, a monitor file that cannot be loaded, a target whose partial answer brings debug
// text between the station's events.
TEST(CliProductionTest, EveryBoardStartedGetsOneTrueLine) {
    TempDir dir;
    const std::string noRecords = dir.Write("norecords.h86", "no records here\n");
    const std::string noResponse = "No response from target (=> Activate BSL-Mode => Reset) !";
    const std::vector<std::string> slow = {"--program-ms", "20"};
    struct Case {
        const char* name;
        std::vector<std::string> simOptionsA, simOptionsB;
        std::vector<std::string> targetArgs;
        std::string seen;  // on every port whose target is slow, then the action
        std::function<void(int run, const std::string& portB)> action;
        int exitCode;
        std::string resultA, failureA, resultB, failureB;
    };
    const std::vector<Case> cases = {
        {"a station program killed",
         {},
         slow,
         {},
         "Erasing sector 1!",
         [](int run, const std::string& portB) {
             for (const int child : ChildrenOf(run, portB)) {
                 std::ifstream comm("/proc/" + std::to_string(child) + "/comm");
                 std::string name;
                 comm >> name;
                 EXPECT_EQ(name, "quillon-cli") << "as it shows among the processes";
                 kill(child, SIGKILL);
             }
         },
         1,
         "ok",
         "None",
         "failed",
         "station program ended by signal 9"},
        {"a hang-up of the run",
         slow,
         slow,
         {},
         "Erasing sector 1!",
         [](int run, const std::string&) { kill(run, SIGHUP); },
         130,
         "aborted",
         "Aborted by user!",
         "aborted",
         "Aborted by user!"},
        // The station's own program hung up (its terminal went): that board is aborted.
        {"a hang-up of a station program",
         {},
         slow,
         {},
         "Erasing sector 1!",
         [](int run, const std::string& portB) {
             for (const int child : ChildrenOf(run, portB)) {
                 kill(child, SIGHUP);
             }
         },
         130,
         "ok",
         "None",
         "aborted",
         "Aborted by user!"},
        {"a monitor file that cannot be loaded",
         {},
         {},
         {"-m", noRecords},
         "",
         nullptr,
         1,
         "failed",
         "Die Datei enthält keinen einzigen HEX-Datensatz!",
         "failed",
         "Die Datei enthält keinen einzigen HEX-Datensatz!"},
        {"a partial answer, then silence",
         {},
         {"--split-answer", "erase:5000"},
         {},
         "",
         nullptr,
         1,
         "ok",
         "None",
         "failed",
         noResponse},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sim a(c.simOptionsA);
        Sim b(c.simOptionsB);
        const std::string record = (dir.path() / (std::string(c.name) + ".jsonl")).string();
        std::vector<std::string> args = {"-p", a.port() + "," + b.port(), "--record", record};
        const std::vector<std::string> target = {"-t", "Virtual Target"};
        const auto& targetArgs = c.targetArgs.empty() ? target : c.targetArgs;
        args.insert(args.end(), targetArgs.begin(), targetArgs.end());
        args.push_back(kDemo);
        bool acted = false;
        ProcessOptions options;
        options.onOutput = [&](const std::string& out, int pid) {
            if (c.action && !acted && out.find(b.port() + ": " + c.seen) != std::string::npos &&
                (c.simOptionsA.empty() ||
                 out.find(a.port() + ": " + c.seen) != std::string::npos)) {
                acted = true;
                c.action(pid, b.port());
            }
        };
        const ProcessResult result = Cli(args, options);
        EXPECT_EQ(acted, c.action != nullptr);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.out << result.err;
        std::vector<std::string> expected = {a.port() + "|1|" + c.resultA + "|" + c.failureA,
                                             b.port() + "|1|" + c.resultB + "|" + c.failureB};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(RecordResults(record), Lines(expected));
        const std::map<std::string, std::string> rows = SummaryRows(result.out);
        ASSERT_EQ(rows.count(b.port()), 1u) << result.out;
        EXPECT_EQ(rows.at(b.port()).rfind(c.resultB, 0), 0u) << rows.at(b.port());
        if (c.failureB != "None") {
            EXPECT_NE(rows.at(b.port()).find(c.failureB), std::string::npos) << rows.at(b.port());
        }
        // Events never leak into what the operator reads, and debug text is a line of its own.
        EXPECT_EQ(result.err.find("\tL"), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("L\t"), std::string::npos) << result.err;
        if (c.failureB == noResponse) {
            EXPECT_NE(result.out.find(b.port() + ": " + noResponse + "\n"), std::string::npos)
                << result.out;
            EXPECT_TRUE(std::regex_search(
                result.err,
                std::regex(b.port() + ": WaitForResponse\\(\\): To few bytes(, [0-9A-F]{2})+\n")))
                << result.err;
        }
    }
}

// A station's program that stops answering (SIGSTOP) is ended once it has been silent for
// --station-silence, and reaped; its board fails with a line that says so, and q ends the run
// instead of leaving it waiting for that board. The other station's board is not touched.
TEST(CliProductionTest, AStationThatStopsAnsweringIsEnded) {
    Terminal terminal;
    TempDir dir;
    const std::string record = (dir.path() / "record.jsonl").string();
    Sim a({"--program-ms", "20"});
    Sim b({"--program-ms", "20"});
    int stopped = 0;
    ProcessOptions options;
    options.stdinFrom = terminal.name();
    options.timeoutMs = 60000;
    options.onOutput = [&](const std::string& out, int pid) {
        if (stopped == 0 && out.find(b.port() + ": Erasing sector 1!") != std::string::npos) {
            const std::vector<int> children = ChildrenOf(pid, b.port());
            ASSERT_EQ(children.size(), 1u);
            stopped = children.front();
            kill(stopped, SIGSTOP);
            terminal.Type("q\n");
        }
    };
    const ProcessResult result =
        Cli({"-p", a.port() + "," + b.port(), "-t", "Virtual Target", "--repeat",
             "--station-silence", "3", "--record", record, kDemo},
            options);
    ASSERT_NE(stopped, 0);
    EXPECT_EQ(kill(stopped, 0), -1) << "the stopped program was left behind";
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    const std::string silent = "station program stopped answering (silent for 3 s)";
    std::vector<std::string> expected = {a.port() + "|1|ok|None", b.port() + "|1|failed|" + silent};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(RecordResults(record), Lines(expected));
    EXPECT_NE(result.err.find(b.port() + ": quillon-cli: " + silent), std::string::npos)
        << result.err;
}

// The image is read once, before the target is touched: a file replaced while the run goes on
// (a new build landing during Initialize) changes neither what is flashed nor the digest the
// record gives, in a single run and in a station's program alike.
TEST(CliTest, AFileReplacedDuringTheRunIsNeitherFlashedNorRecorded) {
    Sim reference;
    ASSERT_EQ(Cli({"-p", reference.port(), "-t", "Virtual Target", kDemo}).exitCode, 0);
    const std::string flashed = ProgrammedSectors(reference.Report());
    TempDir dir;
    std::ifstream demo(kDemo);
    const std::string demoText((std::istreambuf_iterator<char>(demo)), {});
    std::string demoSha;
    ASSERT_TRUE(Sha256OfFile(kDemo, demoSha));
    for (const bool production : {false, true}) {
        SCOPED_TRACE(production ? "a station's program" : "a single run");
        const std::string image = dir.Write("image.hex", demoText);
        const std::string record = (dir.path() / (production ? "p.jsonl" : "s.jsonl")).string();
        Sim sim({"--ram-test-ms", "1500"});
        std::vector<std::string> args = {"-p",       sim.port(), "-t", "Virtual Target",
                                         "--record", record,     image};
        if (production) {
            args.insert(args.begin(), "--repeat");  // one board, as its own program
        }
        bool replaced = false;
        ProcessOptions options;
        options.onOutput = [&](const std::string& out, int) {
            if (!replaced && out.find("RAM test started.") != std::string::npos) {
                replaced = true;
                dir.Write("image.hex", ":0400000001020304F2\n:00000001FF\n");
            }
        };
        const ProcessResult result = Cli(args, options);
        EXPECT_TRUE(replaced);
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
        EXPECT_EQ(ProgrammedSectors(sim.Report()), flashed);
        std::ifstream in(record);
        const std::string line((std::istreambuf_iterator<char>(in)), {});
        EXPECT_NE(line.find("\"imageSha256\": \"" + demoSha + "\""), std::string::npos) << line;
    }
}

// A production run reads the image file once: a file replaced during the shift reaches no
// board after it, and every board's line names the digest of the bytes the run read. A
// station's program refuses a copy whose digest is not the run's, naming both.
TEST(CliProductionTest, EveryBoardOfARunGetsTheImageTheRunRead) {
    Sim reference;
    ASSERT_EQ(Cli({"-p", reference.port(), "-t", "Virtual Target", kDemo}).exitCode, 0);
    const std::string flashed = ProgrammedSectors(reference.Report());
    std::ifstream demo(kDemo);
    const std::string demoText((std::istreambuf_iterator<char>(demo)), {});
    std::string demoSha;
    ASSERT_TRUE(Sha256OfFile(kDemo, demoSha));
    TempDir dir;
    const std::string image = dir.Write("image.hex", demoText);
    const std::string record = (dir.path() / "record.jsonl").string();
    Terminal terminal;
    Sim sim;
    int step = 0;
    ProcessOptions options;
    options.stdinFrom = terminal.name();
    options.timeoutMs = 60000;
    options.onOutput = [&](const std::string& out, int) {
        if (step == 0 && out.find(": board 1: ok") != std::string::npos) {
            step = 1;
            dir.Write("image.hex", ":0400000001020304F2\n:00000001FF\n");  // a new build
            terminal.Type("\n");
        } else if (step == 1 && out.find(": board 2: ok") != std::string::npos) {
            step = 2;
            terminal.Type("q\n");
        }
    };
    const ProcessResult result = Cli(
        {"-p", sim.port(), "-t", "Virtual Target", "--repeat", "--record", record, image}, options);
    EXPECT_EQ(step, 2);
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(ProgrammedSectors(sim.Report()), flashed);
    std::ifstream in(record);
    int lines = 0;
    for (std::string line; std::getline(in, line); ++lines) {
        EXPECT_NE(line.find("\"imageSha256\": \"" + demoSha + "\""), std::string::npos) << line;
        EXPECT_NE(line.find("\"image\": \"" + image + "\""), std::string::npos) << line;
    }
    EXPECT_EQ(lines, 2);

    const std::string runs(64, '0');
    ProcessOptions station;
    station.stdinFrom = terminal.name();  // its run's pipe: an input that ends is an abort
    const ProcessResult refused =
        Cli({"--station-board", "1", "-p", sim.port(), "-t", "Virtual Target", "--station-image",
             kDemo, "--station-image-sha256", runs, "--", image},
            station);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.out.find("R\t1\tthe image " + kDemo + " has the SHA-256 " + demoSha +
                               ", not the run's " + runs + "\n"),
              std::string::npos)
        << refused.out;
}

// A single run: a hang-up aborts it like SIGTERM; with stdout and stderr in one place (as with
// `>log 2>&1`) no line is ever joined to another.
TEST(CliTest, TheRecordAndTheLogSayWhyAndLoseNoLine) {
    TempDir dir;
    std::ifstream shipped(kBin + "/Targets/virtual-target.h86");
    std::string monitor((std::istreambuf_iterator<char>(shipped)), {});
    monitor.erase(monitor.find(":00000001FF"));  // no end record: "Datei beendet"
    const std::string monitorFile = dir.Write("virtual.h86", monitor);
    std::ifstream demo(kDemo);
    const std::string demoText((std::istreambuf_iterator<char>(demo)), {});
    const std::string image = (dir.path() / "image.hex").string();
    struct Case {
        const char* name;
        std::vector<std::string> simOptions;
        std::string seen;
        std::function<void(int pid)> action;
        std::string stderrTo;
        int exitCode;
        std::string result, failure;
        std::string outHolds;
    };
    const std::vector<Case> cases = {
        {"a hang-up",
         {"--program-ms", "5"},
         "Programming sector 0! **",
         [](int pid) { kill(pid, SIGHUP); },
         "",
         130,
         "aborted",
         "Aborted by user!",
         "*\nAborted by user!\n"},
        {"stdout and stderr in one place",
         {},
         "",
         nullptr,
         "&1",
         0,
         "ok",
         "None",
         " initialized.\nquillon-cli: " + monitorFile + ": Datei beendet\n---"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dir.Write("image.hex", demoText);
        Sim sim(c.simOptions);
        const std::string record = (dir.path() / (std::string(c.name) + ".jsonl")).string();
        bool acted = false;
        ProcessOptions options;
        options.stderrTo = c.stderrTo;
        options.onOutput = [&](const std::string& out, int pid) {
            if (c.action && !acted && out.find(c.seen) != std::string::npos) {
                acted = true;
                c.action(pid);
            }
        };
        const ProcessResult result =
            Cli({"-p", sim.port(), "-m", monitorFile, "--record", record, image}, options);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.out << result.err;
        EXPECT_EQ(RecordResults(record), sim.port() + "|1|" + c.result + "|" + c.failure + "\n");
        EXPECT_NE(result.out.find(c.outHolds), std::string::npos) << result.out;
    }
}

// "port|board|result|serialNumber|serialAt|flashedSha256|failure" per record line, sorted.
std::vector<std::string> SerialRecord(const std::string& record) {
    const std::string read =
        "import json, sys\n"
        "rows = [json.loads(l) for l in open(sys.argv[1], encoding='utf-8').read().splitlines()]\n"
        "print(*sorted(f\"{r['port']}|{r['board']}|{r['result']}|{r['serialNumber']}|"
        "{r['serialAt']}|{r['flashedSha256']}|{r['failure']}\" for r in rows), sep='\\n')\n";
    const ProcessResult result = RunProcess({"/usr/bin/env", "python3", "-c", read, record});
    std::vector<std::string> lines;
    std::istringstream text(result.out + result.err);
    for (std::string line; std::getline(text, line);) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

// The demo image with `value` in dec:8 at 0x7FF00, where the demo has nothing.
struct SerialDemo {
    SerialDemo() {
        HexReadResult read = ReadHexFile(kDemo, [] { return false; });
        image = std::move(read->image);
        patch = *SerialPatch::Make("0x7FF00", *SerialFormat::Parse("dec:8"), "");
    }
    std::string FlashedSha256(std::uint64_t value) const {
        return DownloadJob::ProgrammedSha256(*patch->Apply(image, value)->image);
    }
    // The digest of sector 7 of a target's flash that holds `value`, as its report gives it.
    static std::string SectorDigest(std::uint64_t value) {
        std::vector<std::uint8_t> sector(0x10000, 0xFF);
        char digits[16];
        std::snprintf(digits, sizeof digits, "%08llu", static_cast<unsigned long long>(value));
        std::copy(digits, digits + 8, sector.begin() + 0xFF00);
        return Sha256Hex(sector.data(), sector.size());
    }
    HexImage image;
    std::optional<SerialPatch> patch;
};

// Three stations board after board: each board gets the next number of the counter, its flash
// holds the number its record line names, and no number is given twice or skipped.
TEST(CliSerialTest, ThreeStationsNumberEveryBoardOnce) {
    TempDir dir;
    const std::string record = (dir.path() / "record.jsonl").string();
    // A production run takes from an existing counter only; --serial-start does not set it back.
    const std::string counter = dir.Write("counter", "500\n");
    std::vector<std::unique_ptr<Sim>> sims;
    std::vector<std::string> dumps;
    std::string ports;
    for (int i = 0; i < 3; ++i) {
        dumps.push_back((dir.path() / ("flash" + std::to_string(i))).string());
        sims.push_back(std::make_unique<Sim>(std::vector<std::string>{"--dump", dumps.back()}));
        ports += (i == 0 ? "" : ",") + sims.back()->port();
    }
    constexpr int kBoards = 3;
    Terminal terminal;
    std::map<std::string, std::string> flashed;  // "port|board" -> sector 7's digest
    int board = 1;
    ProcessOptions options;
    options.stdinFrom = terminal.name();
    options.timeoutMs = 60000;
    options.onOutput = [&](const std::string& out, int) {
        const std::string done = ": board " + std::to_string(board) + ": ok";
        if (board > kBoards || !std::all_of(sims.begin(), sims.end(), [&](const auto& sim) {
                return out.find(sim->port() + done) != std::string::npos;
            })) {
            return;
        }
        for (const auto& sim : sims) {
            const std::string report = sim->Snapshot();
            const std::regex sector7(R"re(\{"sector": 7, "sha256": "([0-9a-f]{64})"\})re");
            std::smatch m;
            flashed[sim->port() + "|" + std::to_string(board)] =
                std::regex_search(report, m, sector7) ? m[1].str() : "none";
        }
        terminal.Type(++board > kBoards ? "q\n" : "\n");
    };
    const ProcessResult result = Cli({"-p", ports, "-t", "Virtual Target", "--repeat", "--record",
                                      record, "--serial-at", "0x7FF00", "--serial-format", "dec:8",
                                      "--serial-counter", counter, "--serial-start", "500", kDemo},
                                     options);
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(board, kBoards + 1);

    const SerialDemo demo;
    std::set<std::uint64_t> numbers;
    const std::vector<std::string> lines = SerialRecord(record);
    ASSERT_EQ(lines.size(), 3u * kBoards) << Lines(lines);
    std::map<std::string, std::uint64_t> lastOf;
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(
            line, m, std::regex(R"re((.+)\|(\d)\|ok\|(\d{8})\|0x7FF00\|([0-9a-f]{64})\|None)re")))
            << line;
        const std::uint64_t value = std::stoull(m[3].str());
        numbers.insert(value);
        EXPECT_EQ(m[4].str(), demo.FlashedSha256(value)) << line;
        EXPECT_EQ(flashed[m[1].str() + "|" + m[2].str()], SerialDemo::SectorDigest(value)) << line;
        if (m[2].str() == std::to_string(kBoards)) {
            lastOf[m[1].str()] = value;
        }
    }
    std::set<std::uint64_t> expected;
    for (std::uint64_t n = 500; n < 500 + 3 * kBoards; ++n) {
        expected.insert(n);
    }
    EXPECT_EQ(numbers, expected) << "all distinct, one after the other";
    std::ifstream counterFile(counter);
    std::string next;
    counterFile >> next;
    EXPECT_EQ(next, std::to_string(500 + 3 * kBoards));
    EXPECT_NE(result.out.find(sims[0]->port() + ": Serial number 00000"), std::string::npos);
    // The flash itself, byte for byte: the number of each station's last board.
    for (std::size_t i = 0; i < sims.size(); ++i) {
        const std::string port = sims[i]->port();
        sims[i]->Report();  // ends the target, which writes its flash
        std::ifstream dump(dumps[i], std::ios::binary);
        dump.seekg(0x7FF00);
        char digits[9] = {};
        dump.read(digits, 8);
        char expectedDigits[16];
        std::snprintf(expectedDigits, sizeof expectedDigits, "%08llu",
                      static_cast<unsigned long long>(lastOf[port]));
        EXPECT_STREQ(digits, expectedDigits) << port;
    }
}

// A number once taken stays spent, whatever becomes of its board: a station program killed
// after it took its number and before the number was flashed leaves a line of the run with
// that number, and the next run goes on after it.
TEST(CliSerialTest, ASpentNumberIsExplainedAndNeverTakenAgain) {
    TempDir dir;
    const std::string record = (dir.path() / "record.jsonl").string();
    const std::string counter = dir.Write("counter", "41\n");
    const std::vector<std::string> serial = {
        "--serial-at",      "0x7FF00", "--serial-format", "dec:8",
        "--serial-counter", counter,   "--record",        record};
    Sim a;
    Sim b({"--program-ms", "20"});
    std::vector<std::string> args = {"-p", a.port() + "," + b.port(), "-t", "Virtual Target"};
    args.insert(args.end(), serial.begin(), serial.end());
    args.push_back(kDemo);
    bool killed = false;
    ProcessOptions options;
    options.onOutput = [&](const std::string& out, int run) {
        if (!killed && out.find(b.port() + ": Erasing sector 1!") != std::string::npos) {
            killed = true;
            for (const int child : ChildrenOf(run, b.port())) {
                kill(child, SIGKILL);
            }
        }
    };
    const ProcessResult result = Cli(args, options);
    EXPECT_TRUE(killed);
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    // Its board never got as far as sector 7.
    EXPECT_EQ(b.Report().find("\"sector\": 7,"), std::string::npos);

    // A single run afterwards, on the good target, gets the next number.
    std::vector<std::string> single = {"-p", a.port(), "-t", "Virtual Target"};
    single.insert(single.end(), serial.begin(), serial.end());
    single.push_back(kDemo);
    EXPECT_EQ(Cli(single).exitCode, 0);

    const SerialDemo demo;
    const std::vector<std::string> lines = SerialRecord(record);
    ASSERT_EQ(lines.size(), 3u) << Lines(lines);
    std::set<std::string> numbers;
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(
            line, m,
            std::regex(R"re((.+)\|1\|(ok|failed)\|(\d{8})\|0x7FF00\|([0-9a-f]{64}|None)\|(.+))re")))
            << line;
        numbers.insert(m[3].str());
        const bool killedOne = m[1].str() == b.port();
        EXPECT_EQ(m[2].str(), killedOne ? "failed" : "ok") << line;
        EXPECT_EQ(m[5].str(), killedOne ? "station program ended by signal 9" : "None") << line;
        // The killed program may have died before it said which image it was to flash.
        if (m[4].str() != "None" || !killedOne) {
            EXPECT_EQ(m[4].str(), demo.FlashedSha256(std::stoull(m[3].str()))) << line;
        }
    }
    EXPECT_EQ(numbers, (std::set<std::string>{"00000041", "00000042", "00000043"}));
    std::ifstream counterFile(counter);
    std::string next;
    counterFile >> next;
    EXPECT_EQ(next, "44");
}

// A run takes its number or says why it cannot, before the target is touched: the file's data
// where the number goes, a counter or list that is not there, holds no numbers or has none
// left. A number that does not fit its format fails the board before anything is sent; the
// number stays spent and its line carries it.
TEST(CliSerialTest, ARunTakesItsNumberOrSaysWhyNot) {
    TempDir dir;
    struct Case {
        const char* name;
        std::vector<std::string> serial;  // with FILE for a file in the case's folder
        std::map<std::string, std::string> files;
        bool twoStations;
        int exitCode;
        std::string err;     // what stderr holds
        std::string record;  // "result|serialNumber|failure", empty: no line
        std::map<std::string, std::string> filesAfter;
    };
    const std::vector<Case> cases = {
        {"a list",
         {"--serial-at", "0x7FF00", "--serial-format", "hex:4", "--serial-list", "FILE/list"},
         {{"list", "0x0010\n0x0011\n"}},
         false,
         0,
         "",
         "ok|0010|None",
         {{"list.used", "0x0010\n"}}},
        {"a number that does not fit",
         {"--serial-at", "0x7FF00", "--serial-format", "dec:8", "--serial-counter", "FILE/counter"},
         {{"counter", "100000000\n"}},
         false,
         1,
         "",
         "failed|100000000|serial number 100000000 does not fit dec:8",
         {{"counter", "100000001\n"}}},
        {"the file's data where the number goes",
         {"--serial-at", "0x100", "--serial-format", "dec:8", "--serial-counter", "FILE/counter",
          "--serial-start", "1"},
         {},
         true,
         2,
         "quillon-cli: the image holds ",
         "",
         {}},
        {"a counter that is not there",
         {"--serial-at", "0x7FF00", "--serial-format", "dec:8", "--serial-counter", "FILE/counter"},
         {},
         true,
         2,
         "serial counter FILE/counter does not exist (a production run takes from an existing "
         "counter only; --serial-start creates one in a run of one board)\n",
         "",
         {}},
        {"a list with a line that is no value",
         {"--serial-at", "0x7FF00", "--serial-format", "dec:8", "--serial-list", "FILE/list"},
         {{"list", "1\nzwei\n"}},
         true,
         2,
         "serial list FILE/list line 2 holds no number\n",
         "",
         {}},
        {"a list used up",
         {"--serial-at", "0x7FF00", "--serial-format", "dec:8", "--serial-list", "FILE/list"},
         {{"list", "1\n"}, {"list.used", "1\n"}},
         false,
         1,
         "quillon-cli: serial list FILE/list is used up\n",
         "",
         {{"list.used", "1\n"}}},
        {"a list that runs out at the second station",
         {"--serial-at", "0x7FF00", "--serial-format", "dec:8", "--serial-list", "FILE/list"},
         {{"list", "7\n"}},
         true,
         1,
         ": serial list FILE/list is used up\n",
         "ok|00000007|None",
         {{"list.used", "7\n"}}},
        {"a list used up, two stations",
         {"--serial-at", "0x7FF00", "--serial-format", "dec:8", "--serial-list", "FILE/list"},
         {{"list", "1\n"}, {"list.used", "1\n"}},
         true,
         1,
         "serial list FILE/list is used up\n",
         "",
         {{"list.used", "1\n"}}},
    };
    const auto inDir = [](std::string text, const std::string& folder) {
        for (std::size_t at; (at = text.find("FILE")) != std::string::npos;) {
            text.replace(at, 4, folder);
        }
        return text;
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path folder = dir.path() / std::to_string(++number);
        std::filesystem::create_directory(folder);
        for (const auto& [name, content] : c.files) {
            std::ofstream(folder / name) << content;
        }
        const std::string record = (folder / "record.jsonl").string();
        Sim a;
        Sim b;
        std::vector<std::string> args = {
            "-p",       c.twoStations ? a.port() + "," + b.port() : a.port(),
            "-t",       "Virtual Target",
            "--record", record};
        for (const std::string& arg : c.serial) {
            args.push_back(inDir(arg, folder.string()));
        }
        args.push_back(kDemo);
        const ProcessResult result = Cli(args);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.out << result.err;
        EXPECT_NE(result.err.find(inDir(c.err, folder.string())), std::string::npos) << result.err;
        std::vector<std::string> expected;
        if (!c.record.empty()) {
            expected.push_back(c.record);
        }
        std::vector<std::string> got;
        for (const std::string& line : SerialRecord(record)) {
            std::vector<std::string> fields;
            std::istringstream split(line);
            for (std::string field; std::getline(split, field, '|');) {
                fields.push_back(field);
            }
            got.push_back(fields.size() == 7 ? fields[2] + "|" + fields[3] + "|" + fields[6]
                                             : line);
        }
        EXPECT_EQ(got, expected);
        for (const auto& [name, content] : c.filesAfter) {
            std::ifstream in(folder / name);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content) << name;
        }
        if (c.exitCode != 0 && c.record.rfind("ok", 0) != 0) {
            // Refused, or failed before anything was sent: no target was touched.
            for (Sim* sim : {&a, &b}) {
                EXPECT_NE(sim->Report().find("\"sessions\": []"), std::string::npos);
            }
        }
    }
}

// A counter that could hand out its numbers again is refused before any board, and nothing is
// made in its place: behind a link whose share is not mounted (an empty folder where it belongs),
// under two names taken by turns, a giant file, missing in a production run.
TEST(CliSerialTest, ACounterAtTheEdgesIsRefusedBeforeAnyBoard) {
    TempDir dir;
    const auto at = [&dir](const std::string& name) { return (dir.path() / name).string(); };
    const auto run = [](const std::string& ports, const std::string& counter, bool repeat) {
        std::vector<std::string> args = {"-p",
                                         ports,
                                         "-t",
                                         "Virtual Target",
                                         "--serial-at",
                                         "0x7FF00",
                                         "--serial-format",
                                         "dec:8",
                                         "--serial-counter",
                                         counter,
                                         "--serial-start",
                                         "20260001",
                                         kDemo};
        if (repeat) {
            args.insert(args.begin(), "--repeat");
        }
        return Cli(args);
    };
    std::filesystem::create_directory(at("share"));
    dir.Write("share/c", "20260050\n");
    std::filesystem::create_symlink(at("share/c"), at("lnk"));
    {
        Sim sim;
        const ProcessResult mounted = run(sim.port(), at("lnk"), false);
        EXPECT_EQ(mounted.exitCode, 0) << mounted.err;
        EXPECT_NE(mounted.out.find("Serial number 20260050 at 0x7FF00"), std::string::npos);
    }
    std::filesystem::rename(at("share"), at("share.off"));
    std::filesystem::create_directory(at("share"));
    const std::string twice = dir.Write("a", "700\n");
    std::filesystem::create_hard_link(twice, at("b"));
    std::filesystem::resize_file(dir.Write("giant", "1\n"), 3LL << 30);
    const std::string named = "2 names (hard links)";
    const std::vector<std::tuple<std::string, std::string, bool, std::string>> cases = {
        // ports, counter, --repeat, what stderr says after "quillon-cli: serial counter COUNTER "
        {"/dev/x", at("lnk"), false,
         "is a symbolic link to " + at("share/c") + ", which does not exist"},
        {"/dev/x", at("a"), false, "has " + named},
        {"/dev/x", at("b"), false, "has " + named},
        {"/dev/x", at("a"), false, "has " + named},
        {"/dev/x", at("giant"), false, "is larger than 64 bytes"},
        {"/dev/x,/dev/y", at("share/c"), false, "does not exist (a production run takes"},
        {"/dev/x", at("share/c"), true, "does not exist (a production run takes"},
    };
    for (const auto& [ports, counter, repeat, says] : cases) {
        SCOPED_TRACE(counter);
        const ProcessResult refused = run(ports, counter, repeat);
        EXPECT_EQ(refused.exitCode, 2);
        EXPECT_EQ(refused.err.rfind("quillon-cli: serial counter " + counter + " " + says, 0), 0u)
            << refused.err;
    }
    EXPECT_TRUE(std::filesystem::is_symlink(at("lnk"))) << "the link stays a link";
    EXPECT_FALSE(std::filesystem::exists(at("share/c"))) << "nothing made in the empty folder";
    std::ifstream counter(twice);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(counter), {}), "700\n");
}

}  // namespace
