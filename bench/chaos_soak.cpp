// The chaos soak (soak_driver --chaos). Each cycle draws its faults from a generator seeded with
// the run's seed and the cycle's number, so any cycle replays alone with the same seed and
// --first-cycle C --cycles 1. Soft faults (late, swallowed, busy and split answers, short
// stalls, idle noise, the loader's acknowledge and RAM report back to back) must not keep the
// host from succeeding; in about one cycle in four one hard fault (an error or CRC answer, a
// refused finalize, a failing RAM test, a wrong ident) must make it fail. The judge:
// - "Download finished successfully!" exactly when the target accepted the finalize and its
//   flash holds the image, and never after a hard fault that the host met;
// - a failure only in a cycle whose hard fault was played;
// - one done message a job, every job ended by its deadline (else told to stop, and a hang).
#include "bench/chaos_soak.h"

#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <regex>
#include <set>

#include "bench/bench_support.h"
#include "image/sha256.h"
#include "platform/debug_channel.h"
#include "platform/message_box.h"
#include "sim/flash_model.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint16_t kEraseAllSectors = 4;
constexpr std::size_t kMonitorBytes = 512;
constexpr std::uint8_t kIdentByte = 0x6B;  // bench::WriteMonitorFile's
// Far above what the soft faults can cost (a block swallowed four times takes 12 s, a late
// block answer 5 s, a stall 2 s).
constexpr auto kInitDeadline = 30s;
constexpr auto kDownloadDeadline = 90s;
// The longest single wait of the jobs is 10 s: after the stop a job ends well within this.
constexpr auto kStopGrace = 15s;
constexpr char kSuccessLine[] = "Download finished successfully!";

// splitmix64: small, and the same draws with every compiler and library, so a seed replays
// anywhere.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
    int Between(int low, int high) { return low + Below(high - low + 1); }
    bool Percent(int p) { return Below(100) < p; }

private:
    std::uint64_t m_state;
};

std::uint64_t CycleSeed(std::uint64_t seed, unsigned cycle) {
    return Rng(seed ^ (0xD1B54A32D192ED03ULL * cycle)).Next();
}

// A cycle's faults as quillon-sim options.
struct FaultMix {
    std::vector<std::string> args;
    bool eraseAll = false;
    std::string hard;  // the hard fault's options; empty in a cycle without one

    std::string Text() const {
        std::string text;
        for (const std::string& arg : args) {
            text += (text.empty() ? "" : " ") + arg;
        }
        return text;
    }
};

// What only a hard fault leaves in the target's faultsInjected.
const std::set<std::string> kHardKinds = {"error", "crc-error", "ram-failure", "wrong-ident"};

std::string At(const char* stage, int index) {
    return std::string(stage) + "@" + std::to_string(index);
}

FaultMix DrawFaults(Rng& rng, const bench::SoakImage& image, int ramTestMs) {
    FaultMix mix;
    mix.eraseAll = rng.Percent(50);
    std::set<int> erased = image.Sectors();
    for (int s = 0; mix.eraseAll && s < kEraseAllSectors; ++s) {
        erased.insert(s);
    }
    const int erases = static_cast<int>(erased.size());
    const int blocks = image.BlockCount();
    auto add = [&](const std::string& option, const std::string& value) {
        mix.args.push_back(option);
        mix.args.push_back(value);
    };
    add("--ram-test-ms", std::to_string(ramTestMs));
    add("--erase-ms", std::to_string(rng.Between(0, 20)));

    // Soft faults.
    int lateBlock = -1;
    if (rng.Percent(35)) {
        lateBlock = rng.Below(blocks);
        add("--late-answer",
            At("block", lateBlock) + ":" + std::to_string(rng.Between(3200, 5000)));
    }
    if (rng.Percent(20)) {
        // A short stall, well inside the host's wait there.
        static const struct {
            const char* stage;
            int maxMs;
        } kStalls[] = {{"ram-report", 2000},
                       {"erase", 300},
                       {"erase-done", 2000},
                       {"block", 900},
                       {"finalize", 900}};
        const auto& stall = kStalls[rng.Below(5)];
        const int count = std::string(stall.stage) == "block"               ? blocks
                          : std::string(stall.stage).rfind("erase", 0) == 0 ? erases
                                                                            : 1;
        add("--late-answer", At(stall.stage, rng.Below(count)) + ":" +
                                 std::to_string(rng.Between(100, stall.maxMs)));
    }
    if (rng.Percent(25)) {
        // Not the late block: a block may go out five times in all, and a late answer takes
        // two of them.
        int block = rng.Below(blocks);
        if (block == lateBlock) {
            block = (block + 1) % blocks;
        }
        static const int kDrops[] = {1, 1, 1, 1, 2, 2, 3, 4};
        add("--drop-answer", At("block", block) + ":" + std::to_string(kDrops[rng.Below(8)]));
    }
    if (rng.Percent(40)) {
        const int where = rng.Below(3);
        const std::string at = where == 0   ? At("erase-done", rng.Below(erases))
                               : where == 1 ? At("block", rng.Below(blocks))
                                            : At("finalize", 0);
        add("--busy", at + ":" + std::to_string(rng.Between(1, 3)));
        // The answer after a "D" may follow at once; after a busy erase the completion may
        // then come cut in two: "D" and the completion's first bytes together, its rest later.
        add("--busy-interval-ms", std::to_string(rng.Percent(50) ? 0 : rng.Between(1, 40)));
        if (where == 0 && rng.Percent(50)) {
            add("--split-answer", at + ":" + std::to_string(rng.Between(5, 300)) + ":" +
                                      std::to_string(rng.Between(1, 6)));
        }
    }
    for (int splits = rng.Below(3); splits > 0; --splits) {
        const int where = rng.Below(5);
        const std::string at = where == 0   ? At("ram-report", 0)
                               : where == 1 ? At("erase", rng.Below(erases))
                               : where == 2 ? At("erase-done", rng.Below(erases))
                               : where == 3 ? At("block", rng.Below(blocks))
                                            : At("finalize", 0);
        add("--split-answer", at + ":" + std::to_string(rng.Between(5, 300)) + ":" +
                                  std::to_string(rng.Between(1, where == 0 ? 7 : 6)));
    }
    if (rng.Percent(30)) {
        add("--noise", std::to_string(rng.Between(1, 64)));
    }

    // At most one hard fault, in about one cycle in four.
    if (rng.Percent(25)) {
        static const char* const kCommandStages[] = {"erase", "erase-done", "block"};
        const int stage = rng.Below(3);
        const std::string at = At(kCommandStages[stage], rng.Below(stage == 2 ? blocks : erases));
        const std::string code(1, "FPWX"[rng.Below(4)]);
        switch (rng.Below(6)) {
            case 0:
            case 1:
                add("--error-at", "finalize:" + code);
                break;
            case 2:
                add("--error-at", at + ":" + code);
                break;
            case 3:
                add("--crc-error-at", at);
                break;
            case 4: {
                const int written = rng.Below(256);
                char value[64];
                std::snprintf(value, sizeof value, "0x%08X:0x%02X:0x%02X",
                              static_cast<unsigned>(rng.Next() & 0xFFFFF),
                              static_cast<unsigned>(written),
                              static_cast<unsigned>(written ^ (1 << rng.Below(8))));
                add("--ram-fail", value);
                break;
            }
            default: {
                const int ident = rng.Below(255);
                add("--wrong-ident", std::to_string(ident >= kIdentByte ? ident + 1 : ident));
                break;
            }
        }
        mix.hard = mix.args[mix.args.size() - 2] + " " + mix.args.back();
    }
    return mix;
}

// The target's side, from its report.
struct Truth {
    bool read = false;
    bool monitorStarted = false;
    int finalized = 0;
    bool flashHoldsImage = false;
    bool hardPlayed = false;
    std::set<std::string> kindsPlayed;
    std::vector<std::string> injected;  // "stage kind: detail"
    std::vector<std::string> seen;
    std::vector<std::string> sessions;  // "ended by ...: stage, stage, ..."
};

std::string Section(const std::string& json, const std::string& from, const std::string& to) {
    const std::size_t begin = json.find("\"" + from + "\"");
    const std::size_t end = json.find("\"" + to + "\"", begin);
    return begin == std::string::npos ? std::string() : json.substr(begin, end - begin);
}

std::vector<std::smatch> Matches(const std::string& text, const std::regex& pattern) {
    return {std::sregex_iterator(text.begin(), text.end(), pattern), std::sregex_iterator()};
}

Truth ReadTruth(const fs::path& report, const bench::SoakImage& image) {
    Truth truth;
    std::ifstream in(report);
    if (!in) {
        return truth;
    }
    const std::string json(std::istreambuf_iterator<char>(in), {});
    truth.read = true;

    static const std::regex event(R"re(\{"session": \d+, "stage": "([^"]*)", "kind": "([^"]*)", )re"
                                  R"re("detail": "((?:[^"\\]|\\.)*)"\})re");
    // The matches point into these.
    const std::string injected = Section(json, "faultsInjected", "programmedSectors");
    const std::string seen = Section(json, "faultsSeen", "faultsInjected");
    for (const std::smatch& m : Matches(injected, event)) {
        truth.kindsPlayed.insert(m[2]);
        truth.hardPlayed = truth.hardPlayed || kHardKinds.count(m[2]) != 0;
        truth.injected.push_back(m[1].str() + " " + m[2].str() + ": " + m[3].str());
    }
    for (const std::smatch& m : Matches(seen, event)) {
        truth.seen.push_back(m[1].str() + " " + m[2].str() + ": " + m[3].str());
    }
    // Each session from its "number" to the next one's.
    const std::string sessions = Section(json, "sessions", "noiseIgnored");
    static const std::regex ended(R"("endedBy": (null|"[a-z-]+"))");
    static const std::regex stages(R"("stagesReached": \[([^\]]*)\])");
    static const std::regex started(R"("started": true)");
    static const std::regex finalized(R"("finalized": (\d+))");
    for (std::size_t at = sessions.find("\"number\""); at != std::string::npos;) {
        const std::size_t next = sessions.find("\"number\"", at + 1);
        const std::string one = sessions.substr(at, next - at);
        at = next;
        std::smatch m;
        truth.monitorStarted = truth.monitorStarted || std::regex_search(one, started);
        const int count = std::regex_search(one, m, finalized) ? std::stoi(m[1]) : 0;
        truth.finalized += count;
        std::string text = std::regex_search(one, m, ended) ? m[1].str() : "?";
        text = "ended by " + text + ", finalized " + std::to_string(count);
        if (std::regex_search(one, m, stages)) {
            text += ", stages " + m[1].str();
        }
        truth.sessions.push_back(text);
    }

    std::vector<std::uint8_t> expected(FlashModel::kSize, 0xFF);
    image.ApplyTo(expected);
    const std::map<int, std::string> digests = bench::SectorDigests(json);
    truth.flashHoldsImage = !digests.empty();
    for (const int s : image.Sectors()) {
        truth.flashHoldsImage = truth.flashHoldsImage && digests.count(s) != 0;
    }
    for (const auto& [s, digest] : digests) {
        truth.flashHoldsImage = truth.flashHoldsImage &&
                                digest == Sha256Hex(expected.data() + static_cast<std::size_t>(s) *
                                                                          FlashModel::kSectorSize,
                                                    FlashModel::kSectorSize);
    }
    return truth;
}

struct Counts {
    unsigned cycles = 0;
    unsigned falseSuccesses = 0;
    unsigned falseFailures = 0;
    unsigned hangs = 0;
    unsigned wrongEndings = 0;  // a job with no or more than one done message
    unsigned hardCycles = 0;
    unsigned otherProblems = 0;                  // the harness's own: no report from the target
    std::map<std::string, unsigned> kindCycles;  // cycles in which each fault kind was played
};

struct Options {
    unsigned cycles = 20;
    unsigned firstCycle = 1;
    std::uint64_t seed = 0;
    bool seedGiven = false;
    int ramTestMs = 0;
    unsigned progress = 0;
};

bool ParseOptions(const std::vector<std::string>& args, Options* options) {
    for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
        const std::string& name = args[i];
        const char* value = args[i + 1].c_str();
        char* end = nullptr;
        const unsigned long long number = std::strtoull(value, &end, 0);
        if (*value == '\0' || *end != '\0') {
            return false;
        }
        if (name == "--cycles") {
            options->cycles = static_cast<unsigned>(number);
        } else if (name == "--first-cycle") {
            options->firstCycle = static_cast<unsigned>(number);
        } else if (name == "--seed") {
            options->seed = number;
            options->seedGiven = true;
        } else if (name == "--ram-test-ms") {
            options->ramTestMs = static_cast<int>(number);
        } else if (name == "--progress") {
            options->progress = static_cast<unsigned>(number);
        } else {
            return false;
        }
    }
    return args.size() % 2 == 0 && options->cycles > 0 && options->firstCycle > 0;
}

// Hosts whose worker did not end even when told to stop and the line was gone: kept, never
// destroyed (that would wait for the worker forever).
std::vector<bench::Host*> g_abandoned;

}  // namespace

int RunChaosSoak(const std::string& simProgram, const std::vector<std::string>& args) {
    Options options;
    if (!ParseOptions(args, &options)) {
        std::fprintf(stderr,
                     "usage: soak_driver QUILLON_SIM --chaos [--cycles N] [--first-cycle C] "
                     "[--seed S] [--ram-test-ms MS] [--progress EVERY]\n");
        return 2;
    }
    if (!options.seedGiven) {
        options.seed = (static_cast<std::uint64_t>(std::random_device{}()) << 32) ^
                       static_cast<std::uint64_t>(Clock::now().time_since_epoch().count());
    }
    const unsigned last = options.firstCycle + options.cycles - 1;
    std::printf("chaos: seed %" PRIu64
                ", cycles %u to %u; one cycle again: scripts/soak --chaos "
                "--seed %" PRIu64 " --first-cycle C --cycles 1\n",
                options.seed, options.firstCycle, last, options.seed);
    std::fflush(stdout);

    std::vector<std::string> boxes;
    SetDebugTextHandler([](const std::string&) {});
    SetMessageBoxHandler([&](const std::string& text) { boxes.push_back(text); });
    const fs::path dir = fs::temp_directory_path() / ("quillon-chaos-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string monitorFile = (dir / "chaos.h86").string();
    const std::string imageFile = (dir / "image.hex").string();
    const fs::path report = dir / "report.json";
    bench::WriteMonitorFile(monitorFile, kMonitorBytes, kEraseAllSectors);

    Counts counts;
    const auto t0 = Clock::now();
    for (unsigned c = options.firstCycle; c <= last; ++c) {
        const auto cycleStart = Clock::now();
        Rng rng(CycleSeed(options.seed, c));
        const bench::SoakImage image = bench::CycleImage(c);
        bench::WriteImageFile(imageFile, image.parts);
        const FaultMix mix = DrawFaults(rng, image, options.ramTestMs);

        std::error_code ignored;
        fs::remove(report, ignored);
        std::vector<std::string> simArgs = {"--monitor",     monitorFile, "--link",       "none",
                                            "--blank-flash", "--report",  report.string()};
        simArgs.insert(simArgs.end(), mix.args.begin(), mix.args.end());
        bench::SimProcess sim = bench::StartSim(simProgram, simArgs);
        auto host = std::make_unique<bench::Host>(sim.port, 115200);
        host->eraseAll = mix.eraseAll ? 1 : 0;
        host->job.strFile = monitorFile;
        const bench::JobRun init =
            bench::RunJob(*host, UM_INITIALIZE, UM_INIT_DONE, {}, kInitDeadline, kStopGrace);
        const bool initClaim = init.done && init.succeeded == 1 && init.aborted == 0;
        bench::JobRun download;
        const bool downloadRan = initClaim && !init.overran;
        if (downloadRan) {
            host->job.strFile = imageFile;
            download = bench::RunJob(*host, UM_DOWNLOAD, UM_DOWNLOAD_DONE, {}, kDownloadDeadline,
                                     kStopGrace);
        }
        const int jobs = downloadRan ? 2 : 1;
        int doneMessages = init.doneMessages + download.doneMessages;
        const bool stuck = !init.done || (downloadRan && !download.done);
        bool abandoned = false;
        if (stuck) {
            // Told to stop and still running: take the line away; a worker that ends now
            // posts its done message late.
            bench::StopSim(sim);
            const auto end = Clock::now() + 5s;
            bool ended = false;
            while (!ended && Clock::now() < end) {
                if (auto late = host->owner.TakeFor(100)) {
                    ended = late->message == UM_INIT_DONE || late->message == UM_DOWNLOAD_DONE;
                    doneMessages += ended;
                    DiscardPostedMessage(*late);
                }
            }
            if (!ended) {
                g_abandoned.push_back(host.release());
                abandoned = true;
            }
        }
        if (!abandoned) {
            doneMessages += host->End();
            host.reset();
        }
        const int simStatus = bench::StopSim(sim);
        const Truth truth = ReadTruth(report, image);

        // The judgement.
        std::vector<std::string> verdicts;
        const bool hang = init.overran || download.overran;
        const bool downloadClaim =
            downloadRan && download.done && download.succeeded == 1 && download.aborted == 0;
        bool successLine = false;
        for (const std::string& line : download.log) {
            successLine = successLine || line == kSuccessLine;
        }
        const bool downloadTrue = truth.finalized >= 1 && truth.flashHoldsImage;
        bool falseSuccess = false;
        bool falseFailure = false;
        if (!truth.read) {
            verdicts.push_back("PROBLEM: the target wrote no report (exit status " +
                               std::to_string(simStatus) + ")");
            ++counts.otherProblems;
        } else {
            if (initClaim && !truth.monitorStarted) {
                falseSuccess = true;
                verdicts.push_back(
                    "FALSE SUCCESS: Initialize succeeded, the monitor never started");
            }
            if ((downloadClaim || successLine) && (!downloadTrue || truth.hardPlayed)) {
                falseSuccess = true;
                verdicts.push_back(
                    std::string("FALSE SUCCESS: Start Download succeeded; the target accepted ") +
                    std::to_string(truth.finalized) + " finalize commands, its flash " +
                    (truth.flashHoldsImage ? "holds" : "does not hold") + " the image" +
                    (truth.hardPlayed ? ", and a hard fault was played" : ""));
            }
            if (downloadClaim != successLine && downloadRan && download.done) {
                falseSuccess = true;
                verdicts.push_back("FALSE SUCCESS: the done message and the log disagree");
            }
            if (!hang && !initClaim && !truth.hardPlayed) {
                falseFailure = true;
                verdicts.push_back("FALSE FAILURE: Initialize failed without a hard fault");
            }
            if (!hang && downloadRan && !downloadClaim && (!truth.hardPlayed || downloadTrue)) {
                falseFailure = true;
                verdicts.push_back(std::string("FALSE FAILURE: Start Download failed ") +
                                   (truth.hardPlayed ? "although the target finalized the image"
                                                     : "without a hard fault"));
            }
        }
        if (hang) {
            verdicts.push_back(std::string("HANG: a job did not end within its deadline") +
                               (abandoned ? " and not even after the stop and the line's end"
                                          : ", it ended when told to stop"));
        }
        if (doneMessages != jobs && !abandoned) {
            verdicts.push_back("WRONG ENDING: " + std::to_string(doneMessages) +
                               " done messages for " + std::to_string(jobs) + " jobs");
            ++counts.wrongEndings;
        }
        ++counts.cycles;
        counts.falseSuccesses += falseSuccess;
        counts.falseFailures += falseFailure;
        counts.hangs += hang;
        counts.hardCycles += !mix.hard.empty();
        for (const std::string& kind : truth.kindsPlayed) {
            ++counts.kindCycles[kind];
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - cycleStart).count();

        if (!verdicts.empty()) {
            std::printf("chaos: cycle %u FAILED (%.1f s)\n", c, seconds);
            for (const std::string& verdict : verdicts) {
                std::printf("  %s\n", verdict.c_str());
            }
            std::printf("  replay: scripts/soak --chaos --seed %" PRIu64
                        " --first-cycle %u --cycles 1\n",
                        options.seed, c);
            std::printf("  faults: %s%s\n", mix.Text().c_str(), mix.eraseAll ? "; erase-all" : "");
            std::printf("  image: %d blocks in %zu sectors\n", image.BlockCount(),
                        image.Sectors().size());
            for (const std::string& s : truth.sessions) {
                std::printf("  target session: %s\n", s.c_str());
            }
            for (const std::string& e : truth.injected) {
                std::printf("  target played: %s\n", e.c_str());
            }
            for (const std::string& e : truth.seen) {
                std::printf("  target saw: %s\n", e.c_str());
            }
            auto log = [](const char* job, const bench::JobRun& run) {
                std::printf("  %s: %s\n", job,
                            !run.done            ? "no done message"
                            : run.aborted != 0   ? "aborted"
                            : run.succeeded == 1 ? "succeeded"
                                                 : "failed");
                for (const std::string& line : run.log) {
                    std::printf("    | %s\n", line.c_str());
                }
            };
            log("Initialize", init);
            if (downloadRan) {
                log("Start Download", download);
            }
        } else if (options.progress > 0 && (c - options.firstCycle + 1) % options.progress == 0) {
            std::printf("chaos: cycle %u ok (%.1f s): %s%s\n", c, seconds, mix.Text().c_str(),
                        mix.eraseAll ? "; erase-all" : "");
        }
        std::fflush(stdout);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    fs::remove_all(dir);

    std::string kinds;
    for (const auto& [kind, cycles] : counts.kindCycles) {
        kinds += (kinds.empty() ? "" : ", ") + kind + " " + std::to_string(cycles);
    }
    std::printf("chaos: faults played (cycles): %s\n", kinds.empty() ? "none" : kinds.c_str());
    for (const std::string& box : boxes) {
        std::printf("chaos: message box: %s\n", box.c_str());
    }
    if (counts.wrongEndings + counts.otherProblems > 0) {
        std::printf(
            "chaos: %u jobs with a wrong number of done messages, %u cycles without "
            "the target's report\n",
            counts.wrongEndings, counts.otherProblems);
    }
    std::printf(
        "chaos: %u cycles, %u false successes, %u false failures, %u hangs, %u "
        "hard-fault cycles, seed %" PRIu64 " (%.1f s, %.1f s a cycle)\n",
        counts.cycles, counts.falseSuccesses, counts.falseFailures, counts.hangs, counts.hardCycles,
        options.seed, seconds, seconds / counts.cycles);
    std::fflush(stdout);
    const bool failed = counts.falseSuccesses + counts.falseFailures + counts.hangs +
                            counts.wrongEndings + counts.otherProblems >
                        0;
    if (!g_abandoned.empty()) {
        // A worker that cannot be ended: leave without waiting for it.
        std::_Exit(1);
    }
    return failed ? 1 : 0;
}
