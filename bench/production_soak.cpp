// The production chaos soak (soak_driver --production). Each cycle draws from a generator seeded
// with the run's seed and the cycle's number (any cycle replays alone with the same seed and
// --first-cycle C --cycles 1):
// - 3 to 6 targets, each with the chaos soak's soft faults and in about one in four a hard one;
// - one production run over all their ports (quillon-cli -p P1,P2,... --record FILE IMAGE),
//   its stdout read line by line as it comes;
// - faults of the run, each in some cycles: a target killed, or stopped until the run has
//   ended, at one of its erase or program lines; a station's program killed (SIGKILL) at one
//   of its erase or program lines, so that the run must write its board's line; the record append
//   of one station's program made to fail (its file size limit lowered to the record's size, so the
//   run must write the line); SIGHUP or SIGTERM to the run once every station has printed a line.
// - in most cycles a serial number for each board from one counter file that lasts the whole
//   soak (--serial-counter), in a format and at a place drawn for the cycle, where the image
//   has nothing;
// - in one cycle of three (where PostgreSQL's server programs are installed) the factory
//   database instead: the soak's own server, --database, the numbers from --serial-db-counter,
//   and a fault of the server drawn from a generator of its own (the other draws stay as they
//   were): a restart (stopped hard, started again a moment later) or its connections killed, a
//   moment after the run has connected. No stop signal in those cycles: a station stopped while
//   it waits for its number rightly has no board and no line.
// The judge: exactly one whole, valid record line per port, board 1, whose result is "ok"
// exactly when the target accepted the finalize and its flash holds the image ("aborted" only
// after a stop signal, a failure named whenever it is not ok); the exit status that the lines
// call for; a summary table that says what the record says; every log line whole and under
// its port; no station program left behind; the run ended within its deadline. With serial
// numbers, over all cycles: every number the counter handed out is named by exactly one record
// line, no number is in two boards' flash, a board's flash holds no number but its line's, and
// the flashed digest is that of the image with the line's number. With the database: no number
// in two rows, over all its cycles; every record line has its row (in the database or the
// spool the run named), and every row its record line; a number taken whose answer was lost is
// a skip, counted but allowed.
#include "bench/production_soak.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <thread>

#include "bench/bench_support.h"
#include "bench/chaos_faults.h"
#include "bench/strict_json.h"
#include "helpers/text_format.h"
#include "image/hex_image.h"
#include "link/download_job.h"
#include "platform/sha256.h"
#include "serial_numbers/serial_format.h"
#include "tests/support/postgres_server.h"

extern char** environ;

namespace quillon {

namespace {

namespace fs = std::filesystem;
using WallClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Far above what a run takes: the longest board is one whose target was stopped, its block
// sent five times with a 3 s wait each, besides the soft faults' few seconds.
constexpr auto kRunDeadline = 120s;
// A target to be killed or stopped holds the answer to its last block back this long. The
// fault strikes at an erase or program line that the run shows once the next such line has
// begun, so the finalize is at least this far off: the target's truth is "not finalized".
constexpr int kLastBlockStallMs = 2500;
constexpr char kRecordFailure[] = "the record line could not be written";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

// The quillon-cli under test, its real path.
fs::path g_cliProgram;

// The station programs of `port` (quillon-cli --station-board ... --port PORT ...) whose
// parent is `parent` (0: any parent), from /proc.
std::vector<pid_t> StationPrograms(pid_t parent, const std::string& port) {
    std::vector<pid_t> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        const std::optional<std::int64_t> pid = DecimalInRange(name, 1, INT32_MAX);
        if (!pid) {
            continue;
        }
        // "pid (command) state ppid ...": the command may hold spaces and parentheses.
        const std::string stat = ReadFile(entry.path() / "stat");
        const std::size_t close = stat.rfind(')');
        char state = 0;
        int ppid = 0;
        if (close == std::string::npos ||
            std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) != 2 ||
            (parent != 0 && ppid != parent)) {
            continue;
        }
        std::vector<std::string> argv;
        const std::string cmdline = ReadFile(entry.path() / "cmdline");
        for (std::size_t at = 0; at < cmdline.size(); at = cmdline.find('\0', at) + 1) {
            argv.push_back(cmdline.c_str() + at);
        }
        const std::vector<std::string> portArgs = {"--port", port};
        // Only the soak's own program: other runs on the machine (another soak, a test suite)
        // may have a station on a pseudo-terminal of the same name, freed here and taken there.
        std::error_code notOurs;
        if (fs::read_symlink(entry.path() / "exe", notOurs) == g_cliProgram &&
            std::find(argv.begin(), argv.end(), "--station-board") != argv.end() &&
            std::search(argv.begin(), argv.end(), portArgs.begin(), portArgs.end()) != argv.end()) {
            found.push_back(static_cast<pid_t>(*pid));
        }
    }
    return found;
}

// The faults of the run itself in one cycle; -1: none.
struct RunFaults {
    int killed = -1;  // SIGKILL to this target at its killAt-th erase or program line
    int killAt = 0;
    int stopped = -1;  // SIGSTOP likewise; SIGCONT and SIGTERM once the run has ended
    int stopAt = 0;
    int stationKilled = -1;  // SIGKILL to this target's station program at such a line
    int stationKillAt = 0;
    int limited = -1;  // this station's program gets its record file's size as size limit
    WallClock::duration limitAfter{};   // so long after the run began
    int signal = 0;                     // SIGHUP or SIGTERM to the run, or none
    WallClock::duration signalAfter{};  // so long after every station printed a line
};

struct Target {
    bench::FaultMix mix;
    fs::path report;
    bench::SimProcess sim;
    int strikeLines = 0;   // erase and program lines seen after which the last block is to come
    std::string struckAt;  // the log line at which it was killed or stopped
    bool killed = false;
    bool stopped = false;
    bool stationKilled = false;
    bool printed = false;
    int simStatus = 0;
    bench::Truth truth;
};

// One production run as it went.
struct Run {
    std::vector<std::string> argv;
    std::vector<std::string> out;  // its stdout lines
    std::string err;               // its stderr
    int status = -1;               // exit status; 128 + N when signal N ended it
    bool hang = false;
    bool spooled = false;  // it said that rows wait in the database spool (then it ends with 1)
    int signalSent = 0;
    std::string limitNote = "missed: the run had ended";  // what became of the record fault
};

pid_t SpawnRun(const std::vector<std::string>& argv, const fs::path& errFile, int* out) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        return -1;
    }
    *out = pipeFds[0];
    return pid;
}

// An erase or program line after which the image's last block is still to come: the run shows
// a line when the next one begins, and the last sector's program line begins its last block.
bool StrikeLine(const std::string& text, int lastSector) {
    int sector = -1;
    return StartsWith(text, "Erasing sector ") ||
           (std::sscanf(text.c_str(), "Programming sector %d!", &sector) == 1 &&
            sector != lastSector);
}

// Runs the production run over the targets' lines and plays the run's faults.
Run PlayRun(const std::vector<std::string>& argv, std::vector<Target>& targets,
            const RunFaults& faults, const fs::path& recordFile, const fs::path& errFile,
            int lastSector) {
    Run run;
    run.argv = argv;
    int out = -1;
    const pid_t pid = SpawnRun(argv, errFile, &out);
    if (pid < 0) {
        std::fprintf(stderr, "production: cannot start %s\n", argv[0].c_str());
        std::exit(1);
    }
    const auto begin = WallClock::now();
    const auto deadline = begin + kRunDeadline;
    std::optional<WallClock::time_point> limitAt;
    std::optional<WallClock::time_point> signalAt;
    if (faults.limited >= 0) {
        limitAt = begin + faults.limitAfter;
    }
    bool signalDue = faults.signal != 0;
    bool summary = false;  // the empty line before the summary has come
    std::string partial;

    const auto onLine = [&](const std::string& line) {
        run.out.push_back(line);
        summary = summary || line.empty();
        bool all = !summary;
        for (std::size_t i = 0; !summary && i < targets.size(); ++i) {
            Target& t = targets[i];
            const std::string prefix = t.sim.port + ": ";
            if (StartsWith(line, prefix)) {
                t.printed = true;
                const std::string text = line.substr(prefix.size());
                const bool dies = static_cast<int>(i) == faults.killed;
                const bool freezes = static_cast<int>(i) == faults.stopped;
                const bool stationDies = static_cast<int>(i) == faults.stationKilled;
                const int strikeAt = dies      ? faults.killAt
                                     : freezes ? faults.stopAt
                                               : faults.stationKillAt;
                if ((dies || freezes || stationDies) && t.struckAt.empty() &&
                    StrikeLine(text, lastSector) && t.strikeLines++ == strikeAt) {
                    // A line that comes when the board has ended (its output held up somewhere)
                    // is too late: the target's truth would no longer be "not finalized".
                    t.struckAt = text;
                    const std::vector<pid_t> programs = StationPrograms(pid, t.sim.port);
                    if (!programs.empty() && stationDies) {
                        kill(programs.front(), SIGKILL);
                        t.stationKilled = true;
                    } else if (!programs.empty()) {
                        kill(t.sim.pid, dies ? SIGKILL : SIGSTOP);
                        t.killed = dies;
                        t.stopped = freezes;
                    }
                }
            }
            all = all && t.printed;
        }
        if (all && signalDue) {
            signalAt = WallClock::now() + faults.signalAfter;
            signalDue = false;
        }
    };

    for (bool open = true; open;) {
        const auto now = WallClock::now();
        if (limitAt && now >= *limitAt) {
            limitAt.reset();
            const std::string& port = targets[faults.limited].sim.port;
            const std::vector<pid_t> programs = StationPrograms(pid, port);
            std::error_code error;
            const auto size = static_cast<rlim_t>(fs::file_size(recordFile, error));
            const rlimit limit{error ? 0 : size, error ? 0 : size};
            if (programs.empty()) {
                run.limitNote = "missed: the station program of " + port + " had ended";
            } else if (prlimit(programs.front(), RLIMIT_FSIZE, &limit, nullptr) != 0) {
                run.limitNote = "missed: prlimit failed for " + port;
            } else {
                run.limitNote = "file size limit " + std::to_string(limit.rlim_cur) +
                                " set for the station program of " + port;
            }
        }
        if (signalAt && now >= *signalAt) {
            signalAt.reset();
            kill(pid, faults.signal);
            run.signalSent = faults.signal;
        }
        if (now >= deadline) {
            run.hang = true;
            break;
        }
        auto next = deadline;
        for (const auto& at : {limitAt, signalAt}) {
            next = at ? std::min(next, *at) : next;
        }
        pollfd ready{out, POLLIN, 0};
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
        if (poll(&ready, 1, static_cast<int>(wait)) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = read(out, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        open = n > 0;
        partial.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
        for (std::size_t end; (end = partial.find('\n')) != std::string::npos;) {
            onLine(partial.substr(0, end));
            partial.erase(0, end + 1);
        }
    }
    if (!partial.empty()) {
        run.out.push_back(partial + " [no line end]");
    }
    int status = 0;
    while (!run.hang && waitpid(pid, &status, WNOHANG) == 0) {
        run.hang = WallClock::now() >= deadline;
        std::this_thread::sleep_for(10ms);
    }
    if (run.hang) {
        for (const Target& t : targets) {
            for (const pid_t program : StationPrograms(pid, t.sim.port)) {
                kill(program, SIGKILL);
            }
        }
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    close(out);
    run.status = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    run.err = ReadFile(errFile);
    return run;
}

// What one cycle found wrong, by kind.
struct Findings {
    unsigned missing = 0;
    unsigned duplicated = 0;
    unsigned torn = 0;
    unsigned untrue = 0;
    unsigned hangs = 0;
    unsigned exitMismatches = 0;
    unsigned summaryMismatches = 0;
    unsigned logLinesNotWhole = 0;
    unsigned leftBehind = 0;    // station programs still there after the run
    unsigned noReport = 0;      // the harness's own: a target wrote no report
    unsigned serialFaults = 0;  // a serial number given twice, unexplained, or untrue
    // The database's: a number in two rows, a board without its row, a row without its board.
    unsigned duplicateNumbers = 0;
    unsigned boardsWithoutRow = 0;
    unsigned rowsWithoutBoard = 0;
    std::vector<std::string> verdicts;

    Findings& operator+=(const Findings& f) {
        missing += f.missing;
        duplicated += f.duplicated;
        torn += f.torn;
        untrue += f.untrue;
        hangs += f.hangs;
        exitMismatches += f.exitMismatches;
        summaryMismatches += f.summaryMismatches;
        logLinesNotWhole += f.logLinesNotWhole;
        leftBehind += f.leftBehind;
        noReport += f.noReport;
        serialFaults += f.serialFaults;
        duplicateNumbers += f.duplicateNumbers;
        boardsWithoutRow += f.boardsWithoutRow;
        rowsWithoutBoard += f.rowsWithoutBoard;
        return *this;
    }
    unsigned Total() const {
        return missing + duplicated + torn + untrue + hangs + exitMismatches + summaryMismatches +
               logLinesNotWhole + leftBehind + noReport + serialFaults + duplicateNumbers +
               boardsWithoutRow + rowsWithoutBoard;
    }
    std::string Text() const {
        return "lines missing " + std::to_string(missing) + ", duplicated " +
               std::to_string(duplicated) + ", torn " + std::to_string(torn) + ", untrue " +
               std::to_string(untrue) + ", hangs " + std::to_string(hangs) +
               ", exit-status mismatches " + std::to_string(exitMismatches) +
               ", summary mismatches " + std::to_string(summaryMismatches) +
               ", log lines not whole " + std::to_string(logLinesNotWhole) +
               ", station programs left behind " + std::to_string(leftBehind) +
               ", targets without a report " + std::to_string(noReport) +
               ", serial number faults " + std::to_string(serialFaults);
    }
};

// What the run was asked for, that each record line must repeat.
struct Expectation {
    bool eraseAll = false;
    std::string image;
    std::string imageSha256;
    std::string monitorFile;
};

// A record line's members of the right kinds; else why not.
std::string ShapeProblem(const bench::JsonObject& line) {
    using K = bench::JsonMember;
    static const std::vector<std::pair<std::string, std::vector<K::Kind>>> kMembers = {
        {"time", {K::kString}},
        {"host", {K::kString}},
        {"port", {K::kString}},
        {"board", {K::kNumber}},
        {"target", {K::kString}},
        {"monitorFile", {K::kString}},
        {"image", {K::kString}},
        {"imageSha256", {K::kString, K::kNull}},
        {"eraseAll", {K::kBool}},
        {"result", {K::kString}},
        {"failure", {K::kString, K::kNull}},
        {"initSeconds", {K::kNumber}},
        {"downloadSeconds", {K::kNumber}},
        {"serialNumber", {K::kString, K::kNull}},
        {"serialAt", {K::kString, K::kNull}},
        {"flashedSha256", {K::kString, K::kNull}},
        {"answerDelayMs", {K::kNumber, K::kNull}},
        {"downloadBytesPerSecond", {K::kNumber, K::kNull}}};
    for (const auto& [name, kinds] : kMembers) {
        const auto it = line.find(name);
        if (it == line.end()) {
            return "no member " + name;
        }
        if (std::find(kinds.begin(), kinds.end(), it->second.kind) == kinds.end()) {
            return "member " + name + " of the wrong kind";
        }
    }
    static const std::regex time(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
    if (!std::regex_match(line.at("time").text, time)) {
        return "time \"" + line.at("time").text + "\" is no UTC time";
    }
    return {};
}

// What is untrue in the record line of `target` (empty when nothing).
std::vector<std::string> LineUntruths(const bench::JsonObject& line, const Target& target,
                                      const Expectation& expected, const Run& run) {
    std::vector<std::string> untrue;
    const auto text = [&](const char* name) { return line.at(name).text; };
    const auto isNull = [&](const char* name) {
        return line.at(name).kind == bench::JsonMember::kNull;
    };
    const std::string result = text("result");
    if (text("board") != "1") {
        untrue.push_back("board " + text("board") + ", not 1");
    }
    if (result != "ok" && result != "failed" && result != "aborted") {
        untrue.push_back("result \"" + result + "\"");
    }
    if (isNull("failure") != (result == "ok")) {
        untrue.push_back(result == "ok" ? "ok with a failure" : "not ok without a failure");
    }
    if (text("eraseAll") != (expected.eraseAll ? "true" : "false")) {
        untrue.push_back("eraseAll " + text("eraseAll"));
    }
    if (text("image") != expected.image || text("monitorFile") != expected.monitorFile) {
        untrue.push_back("another image or monitor file");
    }
    if (isNull("imageSha256") ? result == "ok" : text("imageSha256") != expected.imageSha256) {
        untrue.push_back("imageSha256 " + (isNull("imageSha256") ? "null" : text("imageSha256")) +
                         ", the image's is " + expected.imageSha256);
    }
    if (StartsWith(text("initSeconds"), "-") || StartsWith(text("downloadSeconds"), "-")) {
        untrue.push_back("negative seconds");
    }
    if (target.killed || target.truth.read) {
        const bool done = !target.killed && target.truth.Downloaded();
        // A stop that reaches the run after a board's finalize went out ends the job at the
        // finalize's next busy answer, while the target finishes on its own: "aborted" says
        // the job did not see the end, which is true; only "ok" must mean the target finished.
        const bool abortedAtItsFinalize = result == "aborted" && run.signalSent != 0 && done;
        if ((result == "ok") != done && !abortedAtItsFinalize) {
            untrue.push_back("result " + result + ", but the target " +
                             (target.killed
                                  ? std::string("was killed before its finalize")
                                  : "accepted " + std::to_string(target.truth.finalized) +
                                        " finalize commands and its flash " +
                                        (target.truth.flashHoldsImage ? "holds" : "does not hold") +
                                        " the image"));
        }
    }
    if (result == "aborted" && run.signalSent == 0) {
        untrue.push_back("aborted, but the run was never asked to stop");
    }
    // Its program was killed before the finalize: the run writes the line, with the signal,
    // unless the program had failed on a hard fault and written its own line just before.
    static const std::string kStationKilled = "station program ended by signal 9";
    if (target.stationKilled && result == "failed" && text("failure") != kStationKilled &&
        !target.truth.hardPlayed) {
        untrue.push_back("failure \"" + text("failure") + "\", its station program was killed: \"" +
                         kStationKilled + "\"");
    }
    return untrue;
}

// The whole judgement of one cycle.
Findings Judge(const std::vector<Target>& targets, const Expectation& expected, const Run& run,
               const std::string& record) {
    Findings f;
    const auto say = [&](unsigned& counter, const std::string& verdict) {
        ++counter;
        f.verdicts.push_back(verdict);
    };
    if (run.hang) {
        say(f.hangs, "HANG: the run had not ended " +
                         std::to_string(std::chrono::seconds(kRunDeadline).count()) +
                         " s after its start; it and its station programs were killed");
    }
    for (const Target& t : targets) {
        if (!t.killed && !t.truth.read) {
            say(f.noReport, "PROBLEM: target " + t.sim.port + " wrote no report (exit status " +
                                std::to_string(t.simStatus) + ")");
        }
    }

    // The record, line by line.
    std::map<std::string, bench::JsonObject> lines;  // each port's first line
    std::size_t begin = 0;
    for (int number = 1; begin < record.size(); ++number) {
        std::size_t end = record.find('\n', begin);
        const bool whole = end != std::string::npos;
        end = whole ? end : record.size();
        const std::string line = record.substr(begin, end - begin);
        begin = end + 1;
        const std::string where = "record line " + std::to_string(number);
        const std::optional<bench::JsonObject> object = bench::ReadJsonObject(line);
        const std::string shape = object ? ShapeProblem(*object) : "no JSON object";
        if (!whole || !shape.empty()) {
            say(f.torn, "TORN: " + where + ": " + (whole ? shape : "no line end"));
            continue;
        }
        const std::string port = object->at("port").text;
        const auto target = std::find_if(targets.begin(), targets.end(),
                                         [&](const Target& t) { return t.sim.port == port; });
        if (target == targets.end()) {
            say(f.torn, "TORN: " + where + ": port " + port + " is not one of the run's");
        } else if (!lines.emplace(port, *object).second) {
            say(f.duplicated, "DUPLICATED: " + where + ": a further line for " + port);
        } else {
            std::string untrue;
            for (const std::string& u : LineUntruths(*object, *target, expected, run)) {
                untrue += (untrue.empty() ? "" : "; ") + u;
            }
            if (!untrue.empty()) {
                say(f.untrue, "UNTRUE: " + where + " (" + port + "): " + untrue);
            }
        }
    }
    bool anyAborted = false;
    bool anyNotOk = false;
    for (const Target& t : targets) {
        const auto it = lines.find(t.sim.port);
        if (it == lines.end()) {
            if (!run.hang) {
                say(f.missing, "MISSING: no record line for " + t.sim.port);
            }
            continue;
        }
        anyAborted = anyAborted || it->second.at("result").text == "aborted";
        anyNotOk = anyNotOk || it->second.at("result").text != "ok";
    }
    if (run.hang) {
        return f;  // a run killed by the soak owes no exit status and no summary
    }

    // Rows left in the database spool end a run that went well with 1.
    const int expectedStatus = anyAborted ? 130 : anyNotOk || run.spooled ? 1 : 0;
    if (run.status != expectedStatus) {
        say(f.exitMismatches, "EXIT STATUS " + std::to_string(run.status) +
                                  ", the record calls for " + std::to_string(expectedStatus));
    }

    // The summary: after the last empty line, the header and one row per port.
    const auto blank = std::find(run.out.rbegin(), run.out.rend(), std::string());
    const auto logEnd = blank == run.out.rend() ? run.out.end() : blank.base() - 1;
    static const std::regex header(R"(port +result +seconds +failing line)");
    static const std::regex row(R"((\S+) +(\S+) +(\d+\.\d)(?:  (.*))?)");
    const std::vector<std::string> table(blank.base(), run.out.end());
    if (blank == run.out.rend() || table.empty() || !std::regex_match(table.front(), header)) {
        say(f.summaryMismatches, "SUMMARY: no summary table at the end of the run's output");
    } else {
        std::map<std::string, std::smatch> rows;
        for (auto r = table.begin() + 1; r != table.end(); ++r) {
            std::smatch m;
            if (!std::regex_match(*r, m, row) || !rows.emplace(m[1].str(), m).second) {
                say(f.summaryMismatches, "SUMMARY: row \"" + *r + "\"");
            }
        }
        for (const Target& t : targets) {
            const auto r = rows.find(t.sim.port);
            const auto l = lines.find(t.sim.port);
            if (r == rows.end()) {
                say(f.summaryMismatches, "SUMMARY: no row for " + t.sim.port);
                continue;
            }
            if (l == lines.end()) {
                continue;
            }
            const std::string result = l->second.at("result").text;
            const std::string failure = l->second.at("failure").text;
            if (r->second[2].str() != result || (result != "ok" && r->second[4].str() != failure)) {
                say(f.summaryMismatches, "SUMMARY: " + t.sim.port + " " + r->second[2].str() +
                                             " \"" + r->second[4].str() +
                                             "\", the record: " + result + " \"" + failure + "\"");
            }
        }
    }

    // Every log line whole, under one of the ports.
    for (auto line = run.out.begin(); line != logEnd; ++line) {
        const bool under = std::any_of(targets.begin(), targets.end(), [&](const Target& t) {
            return StartsWith(*line, t.sim.port + ": ");
        });
        if (!under) {
            say(f.logLinesNotWhole, "LOG LINE: \"" + *line + "\" is under no port");
        }
    }
    return f;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
        lines.push_back(text.substr(begin, end - begin));
    }
    if (begin < text.size()) {
        lines.push_back(text.substr(begin) + " [no line end]");
    }
    return lines;
}

// The serial numbers of one cycle.
struct SerialPlan {
    bool on = false;
    std::string format;  // "dec:8"
    std::uint32_t address = 0;
    // The counter before the run and after it: the run took the numbers from `before` up to
    // `after` - 1.
    std::uint64_t before = 0;
    std::uint64_t after = 0;

    std::string AddressText() const {
        char text[16];
        std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(address));
        return text;
    }
    SerialFormat Format() const { return *SerialFormat::Parse(format); }
    // The number a record line's serialNumber names, when it is the text of one in the format.
    std::optional<std::uint64_t> Read(const std::string& text) const {
        const SerialFormat f = Format();
        const std::optional<std::uint64_t> value =
            ParseSerialValue(f.encoding() == SerialFormat::Encoding::kHex ? "0x" + text : text);
        if (!value || !f.Write(*value) || f.Write(*value)->text != text) {
            return std::nullopt;
        }
        return value;
    }
};

// Every serial number over all cycles.
struct SerialLedger {
    std::map<std::uint64_t, std::string> lines;    // number -> the line that names it
    std::map<std::uint64_t, std::string> flashes;  // number -> the board whose flash holds it
    std::uint64_t taken = 0;
    std::uint64_t skipped = 0;
    unsigned cycles = 0;
};

constexpr std::uint64_t kSerialStart = 100000;
// The database counter's first number: far from the file counter's, so the ledger over all
// cycles tells the two apart (and it fits every format drawn).
constexpr std::uint64_t kDatabaseSerialStart = 10000000;
constexpr char kDatabaseCounter[] = "soak";

// The database's part of the soak: its server, and what its cycles found.
struct DatabaseSoak {
    std::unique_ptr<PostgresServer> server;
    std::set<std::string> numbers;  // every serialNumber a row named, over all its cycles
    unsigned cycles = 0;
    unsigned restarts = 0;
    unsigned connectionsKilled = 0;
    unsigned spooledRuns = 0;
};

// The counter's next number (its start when it is not there yet).
std::uint64_t DatabaseCounterNext(const PostgresServer& server) {
    const std::optional<std::string> next =
        server.Sql(std::string("SELECT next_number FROM quillon_counter WHERE name = '") +
                   kDatabaseCounter + "'");
    const std::string text = next.value_or("");
    return text.empty() ? kDatabaseSerialStart
                        : ParseSerialValue(text.substr(0, text.find('\n'))).value_or(0);
}

// Once the run has connected, waits `after` and plays the server's fault: a restart (down for
// `down`) or its connections killed.
void PlayDatabaseFault(PostgresServer& server, bool restart, std::chrono::milliseconds after,
                       std::chrono::milliseconds down) {
    const auto deadline = WallClock::now() + 20s;
    while (WallClock::now() < deadline &&
           server.Sql("SELECT 1 FROM pg_stat_activity WHERE application_name = 'quillon-cli'")
               .value_or("")
               .empty()) {
        std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(after);
    if (!restart) {
        (void)server.TerminateConnections();
        return;
    }
    server.StopHard();
    std::this_thread::sleep_for(down);
    (void)server.Start();
}

// A record line's or row's key: port, board, result and serial number.
std::string RowKey(const bench::JsonObject& line) {
    const bench::JsonMember& number = line.at("serialNumber");
    return line.at("port").text + "|" + line.at("board").text + "|" + line.at("result").text + "|" +
           (number.kind == bench::JsonMember::kNull ? "" : number.text);
}

// The rows of one cycle (the database's and the spool's) against its record lines.
Findings JudgeRows(const std::string& record, const std::vector<std::string>& rows, unsigned cycle,
                   DatabaseSoak& db) {
    Findings f;
    std::multiset<std::string> lineKeys;
    for (const std::string& line : Lines(record)) {
        if (const std::optional<bench::JsonObject> object = bench::ReadJsonObject(line);
            object && ShapeProblem(*object).empty()) {
            lineKeys.insert(RowKey(*object));
        }
    }
    std::multiset<std::string> rowKeys;
    std::map<std::string, int> numbers;
    for (const std::string& row : rows) {
        const std::optional<bench::JsonObject> object = bench::ReadJsonObject(row);
        if (!object || !ShapeProblem(*object).empty()) {
            ++f.rowsWithoutBoard;
            f.verdicts.push_back("DATABASE: cycle " + std::to_string(cycle) +
                                 ": a row that is no record line: " + row);
            continue;
        }
        rowKeys.insert(RowKey(*object));
        if (object->at("serialNumber").kind != bench::JsonMember::kNull) {
            ++numbers[object->at("serialNumber").text];
        }
    }
    for (const auto& [number, count] : numbers) {
        if (count > 1 || db.numbers.count(number) > 0) {
            ++f.duplicateNumbers;
            f.verdicts.push_back("DATABASE: cycle " + std::to_string(cycle) + ": serial number " +
                                 number + " in more than one row");
        }
        db.numbers.insert(number);
    }
    for (const std::string& key : lineKeys) {
        if (rowKeys.count(key) < lineKeys.count(key)) {
            ++f.boardsWithoutRow;
            f.verdicts.push_back("DATABASE: cycle " + std::to_string(cycle) +
                                 ": no row for the record line " + key);
        }
    }
    for (const std::string& key : rowKeys) {
        if (lineKeys.count(key) < rowKeys.count(key)) {
            ++f.rowsWithoutBoard;
            f.verdicts.push_back("DATABASE: cycle " + std::to_string(cycle) +
                                 ": a row without its record line " + key);
        }
    }
    return f;
}

// The records of the rows a cycle left in the spool folder `folder`; the spool goes with them.
std::vector<std::string> TakeSpooledRows(const fs::path& folder) {
    std::vector<std::string> rows;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.path().extension() != ".jsonl") {
            continue;
        }
        for (const std::string& line : Lines(ReadFile(entry.path()))) {
            const std::size_t record = line.find("\"record\": ");
            if (record != std::string::npos && line.back() == '}') {
                const std::size_t start = record + std::string("\"record\": ").size();
                rows.push_back(line.substr(start, line.size() - 1 - start));
            }
        }
        fs::remove(entry.path(), error);
    }
    return rows;
}

// The image a board gets: the file's, with its number when it has one.
bench::SoakImage BoardImage(const bench::SoakImage& image, const SerialPlan& plan,
                            std::optional<std::uint64_t> number) {
    bench::SoakImage board = image;
    if (plan.on && number) {
        board.parts.push_back({plan.address, plan.Format().Write(*number)->bytes});
    }
    return board;
}

// The SHA-256 of `image` as Start Download programs it.
std::string FlashedDigest(const bench::SoakImage& image) {
    HexImage hex;
    for (const auto& [address, bytes] : image.parts) {
        if (!hex.Store(static_cast<int>(address / HexImage::kSegmentSize),
                       address % HexImage::kSegmentSize, bytes.data(), bytes.size())) {
            return {};  // the soak's images lie inside the address space; none matches this
        }
    }
    return DownloadJob::ProgrammedSha256(hex);
}

// The serialNumber of each port's first whole record line.
std::map<std::string, std::uint64_t> RecordedNumbers(const std::string& record,
                                                     const SerialPlan& plan) {
    std::map<std::string, std::uint64_t> numbers;
    for (const std::string& line : Lines(record)) {
        const std::optional<bench::JsonObject> object = bench::ReadJsonObject(line);
        if (!object || object->count("port") == 0 || object->count("serialNumber") == 0) {
            continue;
        }
        const bench::JsonMember& number = object->at("serialNumber");
        const std::optional<std::uint64_t> value =
            number.kind == bench::JsonMember::kString ? plan.Read(number.text) : std::nullopt;
        if (value) {
            numbers.emplace(object->at("port").text, *value);
        }
    }
    return numbers;
}

// The serial numbers of one cycle against the record, the targets' flash and all cycles
// before.
Findings JudgeSerials(const std::vector<Target>& targets, const bench::SoakImage& image,
                      const SerialPlan& plan, const std::string& record, unsigned cycle,
                      SerialLedger& ledger, bool skipsAllowed) {
    Findings f;
    const auto say = [&](const std::string& verdict) {
        ++f.serialFaults;
        f.verdicts.push_back("SERIAL: " + verdict);
    };
    if (plan.on && plan.after < plan.before) {
        say("the counter went back from " + std::to_string(plan.before) + " to " +
            std::to_string(plan.after));
        return f;
    }
    std::map<std::uint64_t, std::string> named;  // this cycle's
    std::map<std::string, std::uint64_t> byPort;
    for (const std::string& line : Lines(record)) {
        const std::optional<bench::JsonObject> object = bench::ReadJsonObject(line);
        if (!object || !ShapeProblem(*object).empty()) {
            continue;  // judged as torn
        }
        const std::string port = object->at("port").text;
        const std::string where = "cycle " + std::to_string(cycle) + " " + port;
        const bench::JsonMember& number = object->at("serialNumber");
        const bool isNull = number.kind == bench::JsonMember::kNull;
        if (!plan.on) {
            if (!isNull || object->at("serialAt").kind != bench::JsonMember::kNull) {
                say(where + ": a serial number in a run without them");
            }
            continue;
        }
        const std::optional<std::uint64_t> value = isNull ? std::nullopt : plan.Read(number.text);
        if (!value) {
            say(where + ": serialNumber " + (isNull ? "null" : "\"" + number.text + "\"") +
                " is no number in " + plan.format);
            continue;
        }
        if (object->at("serialAt").text != plan.AddressText()) {
            say(where + ": serialAt \"" + object->at("serialAt").text + "\", not " +
                plan.AddressText());
        }
        if (*value < plan.before || *value >= plan.after) {
            say(where + ": " + std::to_string(*value) + " is none of the numbers the counter " +
                "handed out in the cycle (" + std::to_string(plan.before) + " to " +
                std::to_string(plan.after) + " - 1)");
        }
        if (const auto earlier = ledger.lines.find(*value); earlier != ledger.lines.end()) {
            say(where + ": " + std::to_string(*value) + " was named by " + earlier->second +
                " already");
        } else {
            ledger.lines.emplace(*value, where);
        }
        named.emplace(*value, where);
        byPort.emplace(port, *value);
        const bench::JsonMember& flashed = object->at("flashedSha256");
        const std::string digest = FlashedDigest(BoardImage(image, plan, value));
        if (flashed.kind == bench::JsonMember::kNull ? object->at("result").text == "ok"
                                                     : flashed.text != digest) {
            say(where + ": flashedSha256 " +
                (flashed.kind == bench::JsonMember::kNull ? "null" : flashed.text) +
                ", the image with its number gives " + digest);
        }
    }
    if (!plan.on) {
        return f;
    }
    ++ledger.cycles;
    ledger.taken += plan.after - plan.before;
    for (std::uint64_t n = plan.before; n < plan.after; ++n) {
        if (named.count(n) == 0 && skipsAllowed) {
            ++ledger.skipped;  // a take whose answer the connection's end lost
        } else if (named.count(n) == 0) {
            say("cycle " + std::to_string(cycle) + ": " + std::to_string(n) +
                " was taken, but no record line names it");
        }
    }
    // Which number each target's flash holds: the sector of the number holds nothing else.
    const int sector = static_cast<int>(plan.address / bench::SoakImage::kSectorSize);
    const std::uint32_t offset = plan.address % bench::SoakImage::kSectorSize;
    std::map<std::string, std::uint64_t> sectorOf;  // digest -> number
    for (std::uint64_t n = plan.before; n < plan.after; ++n) {
        std::vector<std::uint8_t> bytes(bench::SoakImage::kSectorSize, 0xFF);
        const std::vector<std::uint8_t> written = plan.Format().Write(n)->bytes;
        std::copy(written.begin(), written.end(), bytes.begin() + offset);
        sectorOf.emplace(Sha256Hex(bytes.data(), bytes.size()), n);
    }
    for (const Target& t : targets) {
        if (t.killed) {
            continue;
        }
        const std::map<int, std::string> digests = bench::SectorDigests(ReadFile(t.report));
        const auto held = digests.find(sector);
        const auto n = held == digests.end() ? sectorOf.end() : sectorOf.find(held->second);
        if (n == sectorOf.end()) {
            continue;  // erased, or never programmed
        }
        const std::string where = "cycle " + std::to_string(cycle) + " " + t.sim.port;
        if (const auto other = ledger.flashes.find(n->second); other != ledger.flashes.end()) {
            say(std::to_string(n->second) + " is in the flash of " + where + " and of " +
                other->second);
        } else {
            ledger.flashes.emplace(n->second, where);
        }
        const auto line = byPort.find(t.sim.port);
        if (line != byPort.end() && line->second != n->second) {
            say(where + ": the flash holds " + std::to_string(n->second) + ", the line names " +
                std::to_string(line->second));
        }
    }
    return f;
}

void PrintTail(const char* title, const std::vector<std::string>& lines, std::size_t most) {
    std::printf("  %s%s:\n", title, lines.size() > most ? " (its end)" : "");
    for (std::size_t i = lines.size() > most ? lines.size() - most : 0; i < lines.size(); ++i) {
        std::printf("    | %s\n", lines[i].c_str());
    }
}

std::string SignalName(int signal) {
    return signal == SIGHUP ? "SIGHUP" : signal == SIGTERM ? "SIGTERM" : std::to_string(signal);
}

}  // namespace

int RunProductionSoak(const std::string& simProgram, const std::vector<std::string>& args) {
    bench::SoakOptions options;
    if (!bench::ParseSoakOptions(args, true, &options)) {
        std::fprintf(stderr,
                     "usage: soak_driver QUILLON_SIM --production --cli QUILLON_CLI [--cycles N] "
                     "[--first-cycle C] [--seed S] [--ram-test-ms MS] [--progress EVERY]\n");
        return 2;
    }
    std::error_code noProgram;
    g_cliProgram = fs::canonical(options.cli, noProgram);
    const unsigned last = options.firstCycle + options.cycles - 1;
    std::printf("production: seed %" PRIu64
                ", cycles %u to %u; one cycle again: scripts/soak --production "
                "--seed %" PRIu64 " --first-cycle C --cycles 1\n",
                options.seed, options.firstCycle, last, options.seed);
    std::fflush(stdout);

    const fs::path dir =
        fs::temp_directory_path() / ("quillon-production-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string monitorFile = (dir / "production.h86").string();
    const fs::path recordFile = dir / "record.jsonl";
    const fs::path errFile = dir / "run-stderr.txt";
    const fs::path counterFile = dir / "serial-counter";
    SerialLedger ledger;
    // The database cycles' server, where its programs are installed; the runs' spool goes to a
    // folder of the soak's.
    DatabaseSoak db;
    if (PostgresServer::ProgramFolder()) {
        db.server = std::make_unique<PostgresServer>();
        if (!db.server->started()) {
            std::printf(
                "production: the database's server did not start (%s): no database "
                "cycles\n",
                db.server->failure().c_str());
        }
    } else {
        std::printf("production: no PostgreSQL server programs: no database cycles\n");
    }
    const fs::path spoolFolder = dir / "data" / "quillon";
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    bench::WriteMonitorFile(monitorFile, bench::kChaosMonitorBytes, bench::kChaosEraseAllSectors);

    Findings total;
    unsigned cycles = 0;
    unsigned boards = 0;
    unsigned linesChecked = 0;
    std::map<std::string, unsigned> runFaultCounts;
    std::map<std::string, unsigned> targetKinds;  // targets that played each fault kind
    const auto t0 = WallClock::now();
    for (unsigned c = options.firstCycle; c <= last; ++c) {
        const auto cycleStart = WallClock::now();
        bench::Rng rng(bench::CycleSeed(options.seed, c));
        // The database's draws come from a generator of their own: the others stay as they
        // were for every seed.
        bench::Rng dbRng(bench::CycleSeed(options.seed ^ 0xDA7ABA5EULL, c));
        const bool dbCycle = db.server && db.server->started() && dbRng.Percent(33);
        const bench::SoakImage image = bench::CycleImage(c);
        Expectation expected;
        expected.image = (dir / "image.hex").string();
        expected.monitorFile = monitorFile;
        bench::WriteImageFile(expected.image, image.parts);
        // Without the image's digest no record line could be checked: the soak ends.
        if (!Sha256OfFile(expected.image, expected.imageSha256)) {
            std::fprintf(stderr, "production: cannot read back %s\n", expected.image.c_str());
            return 1;
        }

        expected.eraseAll = rng.Percent(50);
        std::vector<Target> targets(static_cast<std::size_t>(rng.Between(3, 6)));
        for (Target& t : targets) {
            t.mix = bench::DrawFaults(rng, image, options.ramTestMs, expected.eraseAll);
        }
        // Serial numbers in sector 6 or 7, where the image has nothing (and erase-all does
        // not reach).
        SerialPlan serial;
        serial.on = rng.Percent(75);
        bench::SoakImage shape = image;  // the sectors and blocks each board gets
        if (serial.on) {
            static const char* const kFormats[] = {"dec:8", "hex:6", "le:4", "be:4"};
            serial.format = kFormats[rng.Below(4)];
            serial.address =
                static_cast<std::uint32_t>((6 + rng.Below(2)) * 0x10000 + rng.Below(0xFF00));
            serial.before = kSerialStart;
            if (dbCycle) {
                serial.before = DatabaseCounterNext(*db.server);
            } else if (fs::exists(counterFile)) {
                serial.before = ParseSerialValue(ReadFile(counterFile)).value_or(0);
            } else {
                // A production run takes from an existing counter only.
                std::ofstream(counterFile) << kSerialStart << "\n";
            }
            shape.parts.push_back(
                {serial.address, std::vector<std::uint8_t>(serial.Format().size(), 0)});
        }
        const std::set<int> sectors = shape.Sectors();
        std::set<int> erased = sectors;
        for (int s = 0; expected.eraseAll && s < bench::kChaosEraseAllSectors; ++s) {
            erased.insert(s);
        }
        const int strikeLines = static_cast<int>(erased.size() + sectors.size()) - 1;
        const int n = static_cast<int>(targets.size());
        RunFaults faults;
        if (rng.Percent(30)) {
            faults.killed = rng.Below(n);
            faults.killAt = rng.Below(strikeLines);
        }
        if (rng.Percent(25)) {
            // Never the target to be killed.
            faults.stopped =
                faults.killed < 0 ? rng.Below(n) : (faults.killed + 1 + rng.Below(n - 1)) % n;
            faults.stopAt = rng.Below(strikeLines);
        }
        if (rng.Percent(25)) {
            // Neither the target to be killed nor the one to be stopped.
            std::vector<int> free;
            for (int i = 0; i < n; ++i) {
                if (i != faults.killed && i != faults.stopped) {
                    free.push_back(i);
                }
            }
            faults.stationKilled =
                free[static_cast<std::size_t>(rng.Below(static_cast<int>(free.size())))];
            faults.stationKillAt = rng.Below(strikeLines);
        }
        if (rng.Percent(30)) {
            faults.limited = rng.Below(n);
            faults.limitAfter = std::chrono::milliseconds(rng.Between(100, 900));
        }
        if (rng.Percent(30)) {
            faults.signal = rng.Percent(50) ? SIGHUP : SIGTERM;
            faults.signalAfter = std::chrono::milliseconds(rng.Between(0, 1500));
        }

        if (dbCycle) {
            faults.signal = 0;  // a station stopped while waiting for its number has no line
        }
        std::vector<std::string> argv = {options.cli, "-p",       "",
                                         "-b",        "115200",   "-m",
                                         monitorFile, "--record", recordFile.string()};
        for (int i = 0; i < n; ++i) {
            Target& t = targets[i];
            t.report = dir / ("report-" + std::to_string(i + 1) + ".json");
            std::error_code ignored;
            fs::remove(t.report, ignored);
            std::vector<std::string> simArgs = {"--monitor",      monitorFile,     "--link",
                                                "none",           "--blank-flash", "--report",
                                                t.report.string()};
            if (i == faults.killed || i == faults.stopped || i == faults.stationKilled) {
                // Ahead of the drawn faults: the first late answer at a stage is the one played.
                simArgs.insert(simArgs.end(),
                               {"--late-answer", bench::At("block", shape.BlockCount() - 1) + ":" +
                                                     std::to_string(kLastBlockStallMs)});
            }
            simArgs.insert(simArgs.end(), t.mix.args.begin(), t.mix.args.end());
            t.sim = bench::StartSim(simProgram, simArgs);
            argv[2] += (i == 0 ? "" : ",") + t.sim.port;
        }
        if (expected.eraseAll) {
            argv.push_back("--erase-all");
        }
        if (serial.on) {
            argv.insert(argv.end(),
                        {"--serial-at", serial.AddressText(), "--serial-format", serial.format});
            if (dbCycle) {
                argv.insert(argv.end(), {"--serial-db-counter", kDatabaseCounter, "--serial-start",
                                         std::to_string(kDatabaseSerialStart)});
            } else {
                argv.insert(argv.end(), {"--serial-counter", counterFile.string(), "--serial-start",
                                         std::to_string(kSerialStart)});
            }
        }
        std::thread dbFault;
        bool dbRestart = false;
        if (dbCycle) {
            argv.insert(argv.end(), {"--database", db.server->ConnInfo()});
            (void)db.server->Sql("TRUNCATE quillon_board");  // not there before the first run
            dbRestart = dbRng.Percent(50);
            const auto after = std::chrono::milliseconds(dbRng.Between(0, 1500));
            const auto down = std::chrono::milliseconds(dbRng.Between(100, 1500));
            dbFault = std::thread(PlayDatabaseFault, std::ref(*db.server), dbRestart, after, down);
        }
        argv.push_back(expected.image);
        std::error_code ignored;
        fs::remove(recordFile, ignored);

        Run run = PlayRun(argv, targets, faults, recordFile, errFile, *sectors.rbegin());
        if (dbFault.joinable()) {
            dbFault.join();
            if (!db.server->started()) {
                (void)db.server->Start();
            }
            // The run's last word on its spool (a row spooled and stored later is not in it).
            run.spooled = run.err.find(": the next run with this --database stores them") !=
                          std::string::npos;
        }

        // Station programs must not outlive their run.
        Findings found;
        for (Target& t : targets) {
            for (const pid_t program : StationPrograms(0, t.sim.port)) {
                found.verdicts.push_back("LEFT BEHIND: station program " + std::to_string(program) +
                                         " of " + t.sim.port + " still runs after the run ended");
                ++found.leftBehind;
                kill(program, SIGKILL);
            }
        }
        const std::string record = ReadFile(recordFile);
        if (serial.on) {
            serial.after = dbCycle ? DatabaseCounterNext(*db.server)
                                   : ParseSerialValue(ReadFile(counterFile)).value_or(0);
        }
        // Each target's truth against the image with the number its line names.
        const std::map<std::string, std::uint64_t> numbers = RecordedNumbers(record, serial);
        for (Target& t : targets) {
            if (t.stopped) {
                kill(t.sim.pid, SIGCONT);
            }
            t.simStatus = bench::StopSim(t.sim);
            if (!t.killed) {
                const auto number = numbers.find(t.sim.port);
                t.truth = bench::ReadTruth(
                    t.report, BoardImage(image, serial,
                                         number == numbers.end()
                                             ? std::nullopt
                                             : std::optional<std::uint64_t>(number->second)));
            }
        }
        Findings judged = Judge(targets, expected, run, record);
        judged += JudgeSerials(targets, image, serial, record, c, ledger, dbCycle);
        if (dbCycle) {
            std::vector<std::string> rows =
                Lines(db.server->Sql("SELECT line::text FROM quillon_board").value_or(""));
            const std::vector<std::string> spooled = TakeSpooledRows(spoolFolder);
            rows.insert(rows.end(), spooled.begin(), spooled.end());
            judged += JudgeRows(record, rows, c, db);
            ++db.cycles;
            db.spooledRuns += run.spooled ? 1 : 0;
            ++(dbRestart ? db.restarts : db.connectionsKilled);
        }
        judged.verdicts.insert(judged.verdicts.begin(), found.verdicts.begin(),
                               found.verdicts.end());
        judged.leftBehind += found.leftBehind;
        total += judged;
        ++cycles;
        boards += static_cast<unsigned>(n);
        linesChecked += static_cast<unsigned>(Lines(record).size());

        // What was played.
        std::vector<std::string> played;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const Target& t = targets[i];
            if (!t.struckAt.empty()) {
                const std::string name =
                    static_cast<int>(i) == faults.killed
                        ? (t.killed ? "target killed" : "target kill too late")
                    : static_cast<int>(i) == faults.stopped
                        ? (t.stopped ? "target stopped" : "target stop too late")
                        : (t.stationKilled ? "station program killed"
                                           : "station program kill too late");
                played.push_back(name + " (" + t.sim.port + " at \"" + t.struckAt + "\")");
                ++runFaultCounts[name];
            }
            for (const std::string& kind : t.truth.kindsPlayed) {
                ++targetKinds[kind];
            }
        }
        if (faults.limited >= 0) {
            const std::string port = targets[faults.limited].sim.port;
            const bool failed =
                run.err.find(port + ": quillon-cli: " + kRecordFailure) != std::string::npos;
            played.push_back("record append " + std::string(failed ? "failed" : "not failed") +
                             " (" + run.limitNote + ")");
            ++runFaultCounts[failed ? "record append failed" : "record fault too late"];
        }
        if (dbCycle) {
            played.push_back(dbRestart ? "database restarted" : "database connections killed");
            ++runFaultCounts[played.back()];
        }
        if (run.signalSent != 0) {
            played.push_back(SignalName(run.signalSent) + " to the run");
            ++runFaultCounts[SignalName(run.signalSent) + " to the run"];
        }
        std::string playedText;
        for (const std::string& p : played) {
            playedText += (playedText.empty() ? "" : "; ") + p;
        }
        const double seconds = std::chrono::duration<double>(WallClock::now() - cycleStart).count();

        if (!judged.verdicts.empty()) {
            std::printf("production: cycle %u FAILED (%.1f s)\n", c, seconds);
            for (const std::string& verdict : judged.verdicts) {
                std::printf("  %s\n", verdict.c_str());
            }
            std::printf("  replay: scripts/soak --production --seed %" PRIu64
                        " --first-cycle %u --cycles 1\n",
                        options.seed, c);
            std::string command;
            for (const std::string& arg : run.argv) {
                command += (command.empty() ? "" : " ") + arg;
            }
            std::printf("  run: %s; exit status %d\n", command.c_str(), run.status);
            std::printf("  run faults: %s\n", playedText.empty() ? "none" : playedText.c_str());
            std::printf("  image: %d blocks in %zu sectors\n", shape.BlockCount(), sectors.size());
            if (serial.on) {
                std::printf("  serial numbers: %s at %s, counter %" PRIu64
                            " before the run, %" PRIu64 " after it\n",
                            serial.format.c_str(), serial.AddressText().c_str(), serial.before,
                            serial.after);
            }
            for (const Target& t : targets) {
                std::printf("  target %s: %s (exit status %d)\n", t.sim.port.c_str(),
                            t.mix.Text().c_str(), t.simStatus);
                t.truth.Print("    ");
            }
            PrintTail("run's stdout", run.out, 80);
            PrintTail("run's stderr", Lines(run.err), 40);
            PrintTail("record", Lines(record), 20);
        } else if (options.progress > 0 && (c - options.firstCycle + 1) % options.progress == 0) {
            std::printf("production: cycle %u ok (%.1f s): %d targets, exit status %d; %s\n", c,
                        seconds, n, run.status, playedText.empty() ? "" : playedText.c_str());
        }
        std::fflush(stdout);
    }
    const double seconds = std::chrono::duration<double>(WallClock::now() - t0).count();
    fs::remove_all(dir);

    const auto join = [](const std::map<std::string, unsigned>& counts) {
        std::string text;
        for (const auto& [name, count] : counts) {
            text += (text.empty() ? "" : ", ") + name + " " + std::to_string(count);
        }
        return text.empty() ? std::string("none") : text;
    };
    std::printf("production: run faults played (cycles): %s\n", join(runFaultCounts).c_str());
    std::printf("production: target faults played (targets): %s\n", join(targetKinds).c_str());
    std::printf("production: serial numbers in %u cycles: %" PRIu64
                " taken, %zu named by a record "
                "line (each once), %zu found in a board's flash (each in one)\n",
                ledger.cycles, ledger.taken, ledger.lines.size(), ledger.flashes.size());
    std::printf(
        "production: database in %u cycles (%u restarts, %u with connections killed, "
        "%u runs ended with rows in the spool): duplicate numbers %u, boards without a "
        "row %u, rows without a board %u, numbers skipped %" PRIu64 "\n",
        db.cycles, db.restarts, db.connectionsKilled, db.spooledRuns, total.duplicateNumbers,
        total.boardsWithoutRow, total.rowsWithoutBoard, ledger.skipped);
    std::printf("production: %u cycles, %u boards, %u record lines checked, %s; seed %" PRIu64
                " (%.1f s, %.1f s a cycle)\n",
                cycles, boards, linesChecked, total.Text().c_str(), options.seed, seconds,
                seconds / cycles);
    std::fflush(stdout);
    return total.Total() > 0 ? 1 : 0;
}

}  // namespace quillon
