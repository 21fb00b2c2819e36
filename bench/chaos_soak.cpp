// The chaos soak (soak_driver --chaos). Each cycle draws its faults from a generator seeded with
// the run's seed and the cycle's number, so any cycle replays alone with the same seed and
// --first-cycle C --cycles 1. Soft faults (late, swallowed, busy and split answers, short
// stalls, idle noise, the loader's acknowledge and RAM report back to back, a slow loader)
// must not keep the host from succeeding; in about one cycle in four one hard fault (an error
// or CRC answer, a refused finalize, a failing RAM test, a wrong ident) must make it fail, and
// so must a monitor byte lost to an overrun of the loader's receiver (the host's echo window
// running ahead of a slow loader). The judge:
// - "Download finished successfully!" exactly when the target accepted the finalize and its
//   flash holds the image, and never after a hard fault that the host met;
// - a failure only in a cycle whose hard fault was played;
// - one done event a job, every job ended by its deadline (else told to stop, and a hang).
#include "bench/chaos_soak.h"

#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "bench/bench_support.h"
#include "bench/chaos_faults.h"

namespace quillon {

namespace {

namespace fs = std::filesystem;
using WallClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Far above what the soft faults can cost (a block swallowed four times takes 12 s, a late
// block answer 5 s, a stall 2 s).
constexpr auto kInitDeadline = 30s;
constexpr auto kDownloadDeadline = 90s;
// The longest single wait of the jobs is 10 s: after the stop a job ends well within this.
constexpr auto kStopGrace = 15s;
constexpr char kSuccessLine[] = "Download finished successfully!";

struct Counts {
    unsigned cycles = 0;
    unsigned falseSuccesses = 0;
    unsigned falseFailures = 0;
    unsigned hangs = 0;
    unsigned wrongEndings = 0;  // a job with no or more than one done event
    unsigned hardCycles = 0;
    unsigned otherProblems = 0;                  // the harness's own: no report from the target
    std::map<std::string, unsigned> kindCycles;  // cycles in which each fault kind was played
};

// Hosts whose job did not end even when told to stop and the line was gone: kept, never
// destroyed (that would wait for the job thread forever).
std::vector<bench::Host*> g_abandoned;

}  // namespace

int RunChaosSoak(const std::string& simProgram, const std::vector<std::string>& args) {
    bench::SoakOptions options;
    if (!bench::ParseSoakOptions(args, false, &options)) {
        std::fprintf(stderr,
                     "usage: soak_driver QUILLON_SIM --chaos [--cycles N] [--first-cycle C] "
                     "[--seed S] [--ram-test-ms MS] [--progress EVERY]\n");
        return 2;
    }
    const unsigned last = options.firstCycle + options.cycles - 1;
    std::printf("chaos: seed %" PRIu64
                ", cycles %u to %u; one cycle again: scripts/soak --chaos "
                "--seed %" PRIu64 " --first-cycle C --cycles 1\n",
                options.seed, options.firstCycle, last, options.seed);
    std::fflush(stdout);

    const fs::path dir = fs::temp_directory_path() / ("quillon-chaos-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string monitorFile = (dir / "chaos.h86").string();
    const std::string imageFile = (dir / "image.hex").string();
    const fs::path report = dir / "report.json";
    bench::WriteMonitorFile(monitorFile, bench::kChaosMonitorBytes, bench::kChaosEraseAllSectors);

    Counts counts;
    const auto t0 = WallClock::now();
    for (unsigned c = options.firstCycle; c <= last; ++c) {
        const auto cycleStart = WallClock::now();
        bench::Rng rng(bench::CycleSeed(options.seed, c));
        const bench::SoakImage image = bench::CycleImage(c);
        bench::WriteImageFile(imageFile, image.parts);
        const bool eraseAll = rng.Percent(50);
        bench::FaultMix mix = bench::DrawFaults(rng, image, options.ramTestMs, eraseAll);
        bench::DrawEchoWindow(rng, mix);

        std::error_code ignored;
        fs::remove(report, ignored);
        std::vector<std::string> simArgs = {"--monitor",     monitorFile, "--link",       "none",
                                            "--blank-flash", "--report",  report.string()};
        simArgs.insert(simArgs.end(), mix.args.begin(), mix.args.end());
        bench::SimProcess sim = bench::StartSim(simProgram, simArgs);
        // The image is read once before the download, as the command line reads it.
        const std::shared_ptr<const HexImage> hexImage = bench::ReadImage(imageFile);
        auto host = std::make_unique<bench::Host>(sim.port, 115200);
        const bench::JobRun init =
            bench::RunJob(*host, InitializeRequest{monitorFile, EchoWindow{mix.echoWindow}}, {},
                          kInitDeadline, kStopGrace);
        const bool initClaim = init.succeeded();
        bench::JobRun download;
        const bool downloadRan = initClaim && !init.overran;
        if (downloadRan) {
            download = bench::RunJob(*host, DownloadRequest{hexImage, imageFile, mix.eraseAll}, {},
                                     kDownloadDeadline, kStopGrace);
        }
        const int jobs = downloadRan ? 2 : 1;
        const bool stuck = !init.done || (downloadRan && !download.done);
        bool abandoned = false;
        const std::shared_ptr<bench::JobWatch> stuckWatch =
            !init.done ? init.watch : download.watch;
        if (stuck) {
            // Told to stop and still running: take the line away; a job that ends now
            // reports its done event late.
            bench::StopSim(sim);
            if (!stuckWatch->WaitDone(WallClock::now() + 5s)) {
                g_abandoned.push_back(host.release());
                abandoned = true;
            }
        }
        if (!abandoned) {
            host.reset();  // the runner's end: every job's events are in
        }
        // Done events of every job of the cycle, counted once the runner has ended.
        const int doneMessages =
            init.watch->DoneCount() + (downloadRan ? download.watch->DoneCount() : 0);
        const int simStatus = bench::StopSim(sim);
        const bench::Truth truth = bench::ReadTruth(report, image);

        // The judgement.
        std::vector<std::string> verdicts;
        const bool hang = init.overran || download.overran;
        const bool downloadClaim = downloadRan && download.succeeded();
        bool successLine = false;
        for (const std::string& line : download.log) {
            successLine = successLine || line == kSuccessLine;
        }
        const bool downloadTrue = truth.Downloaded();
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
                verdicts.push_back("FALSE SUCCESS: the done event and the log disagree");
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
                               " done events for " + std::to_string(jobs) + " jobs");
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
        const double seconds = std::chrono::duration<double>(WallClock::now() - cycleStart).count();

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
            truth.Print("  ");
            auto log = [](const char* job, const bench::JobRun& run) {
                std::printf("  %s: %s\n", job,
                            !run.done         ? "no done event"
                            : run.aborted()   ? "aborted"
                            : run.succeeded() ? "succeeded"
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
    const double seconds = std::chrono::duration<double>(WallClock::now() - t0).count();
    fs::remove_all(dir);

    std::string kinds;
    for (const auto& [kind, cycles] : counts.kindCycles) {
        kinds += (kinds.empty() ? "" : ", ") + kind + " " + std::to_string(cycles);
    }
    std::printf("chaos: faults played (cycles): %s\n", kinds.empty() ? "none" : kinds.c_str());
    if (counts.wrongEndings + counts.otherProblems > 0) {
        std::printf(
            "chaos: %u jobs with a wrong number of done events, %u cycles without "
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
        // A job thread that cannot be ended: leave without waiting for it.
        std::_Exit(1);
    }
    return failed ? 1 : 0;
}

}  // namespace quillon
