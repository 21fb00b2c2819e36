// Initialize + Start Download again and again in one process against quillon-sim, with
// "Erase all sectors" on every other cycle and a different image each time. Checks that
// memory (resident set) and open file descriptors do not grow, and that the target's flash
// holds exactly what the images put there: after every cycle through the per-sector SHA-256 of
// the target's report, at the end through its whole 16 MB dump. scripts/soak runs it under
// LeakSanitizer or Valgrind, which check that nothing leaks. With --chaos it runs the chaos
// soak instead (bench/chaos_soak.h): a fresh target with random faults every cycle; with
// --production the production chaos soak (bench/production_soak.h): quillon-cli production
// runs over several faulty targets, with faults of the run itself.
//   soak_driver QUILLON_SIM [--cycles N] [--rss-tolerance-kb K] [--heap-tolerance-kb K]
//               [--progress EVERY]
//   soak_driver QUILLON_SIM --chaos [--cycles N] [--first-cycle C] [--seed S]
//               [--ram-test-ms MS] [--progress EVERY]
//   soak_driver QUILLON_SIM --production --cli QUILLON_CLI [--cycles N] [--first-cycle C]
//               [--seed S] [--ram-test-ms MS] [--progress EVERY]
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "bench/chaos_soak.h"
#include "bench/production_soak.h"
#include "helpers/text_format.h"
#include "platform/sha256.h"
#include "tests/support/hex_text.h"

using namespace quillon;

namespace {

using WallClock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr std::size_t kSectorSize = 0x10000;
constexpr std::size_t kFlashSize = 256 * kSectorSize;
constexpr std::uint16_t kEraseAllSectors = 4;
constexpr std::size_t kMonitorBytes = 512;

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            // "VmRSS:    1234 kB"
            const std::string value = TrimmedWhiteSpace(line.substr(6));
            return static_cast<long>(
                DecimalInRange(value.substr(0, value.find_first_not_of("0123456789")), 0, INT32_MAX)
                    .value_or(-1));
        }
    }
    return -1;
}

// Bytes the program holds on its heap, as the sanitizer allocator of a LeakSanitizer build
// counts them; -1 in other builds (the C library's own figures leave out other threads' arenas
// and count its per-thread caches as in use).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

long HeapInUseKb() {
    if (__sanitizer_get_current_allocated_bytes == nullptr) {
        return -1;
    }
    return static_cast<long>(__sanitizer_get_current_allocated_bytes() / 1024);
}

long OpenDescriptors() {
    long count = 0;
    for (auto it = fs::directory_iterator("/proc/self/fd"); it != fs::directory_iterator(); ++it) {
        ++count;
    }
    return count - 1;  // the listing's own descriptor
}

struct Usage {
    long rssKb = 0;
    long heapKb = 0;
    long fds = 0;
    std::string Text() const {
        const std::string heap = heapKb < 0 ? "not counted" : std::to_string(heapKb) + " kB";
        return "resident memory " + std::to_string(rssKb) + " kB, heap in use " + heap +
               ", open file descriptors " + std::to_string(fds);
    }
};

Usage Measure() {
    return {ResidentKb(), HeapInUseKb(), OpenDescriptors()};
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += "\n    " + line;
    }
    return text;
}

// The target's report, asked for with SIGUSR1 and read once it is written.
bool ReadReport(const bench::SimProcess& sim, const fs::path& path, std::string* json) {
    std::error_code ignored;
    fs::remove(path, ignored);
    kill(sim.pid, SIGUSR1);
    const auto end = WallClock::now() + std::chrono::seconds(10);
    while (!fs::exists(path)) {
        if (WallClock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::ifstream in(path);
    json->assign(std::istreambuf_iterator<char>(in), {});
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: soak_driver QUILLON_SIM [--cycles N] [--rss-tolerance-kb K] "
                     "[--heap-tolerance-kb K] [--progress EVERY]\n");
        return 2;
    }
    if (argc > 2 && std::string(argv[2]) == "--chaos") {
        return RunChaosSoak(argv[1], std::vector<std::string>(argv + 3, argv + argc));
    }
    if (argc > 2 && std::string(argv[2]) == "--production") {
        return RunProductionSoak(argv[1], std::vector<std::string>(argv + 3, argv + argc));
    }
    unsigned cycles = 200;
    long rssToleranceKb = 2048;
    long heapToleranceKb = 64;
    unsigned progress = 0;  // a line every this many cycles; 0: none
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        const std::optional<std::int64_t> number = DecimalInRange(argv[i + 1], 0, 1000000000);
        if (!number) {
            std::fprintf(stderr, "soak_driver: %s takes a number, not %s\n", arg.c_str(),
                         argv[i + 1]);
            return 2;
        }
        if (arg == "--cycles") {
            cycles = static_cast<unsigned>(*number);
        } else if (arg == "--progress") {
            progress = static_cast<unsigned>(*number);
        } else if (arg == "--heap-tolerance-kb") {
            heapToleranceKb = static_cast<long>(*number);
        } else if (arg == "--rss-tolerance-kb") {
            rssToleranceKb = static_cast<long>(*number);
        } else {
            std::fprintf(stderr, "soak_driver: unknown option %s\n", arg.c_str());
            return 2;
        }
    }
    if (cycles < 2) {
        std::fprintf(stderr, "soak_driver: at least 2 cycles\n");
        return 2;
    }
    std::vector<std::string> problems;

    const fs::path dir = fs::temp_directory_path() / ("quillon-soak-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string monitorFile = (dir / "soak.h86").string();
    const std::string imageFile = (dir / "image.hex").string();
    const fs::path report = dir / "report.json";
    const fs::path dump = dir / "flash.bin";
    bench::WriteMonitorFile(monitorFile, kMonitorBytes, kEraseAllSectors);

    bench::SimProcess sim = bench::StartSim(
        argv[1], {"--monitor", monitorFile, "--link", "none", "--blank-flash", "--ram-test-ms", "0",
                  "--erase-ms", "0", "--report", report.string(), "--dump", dump.string()});

    auto host = std::make_unique<bench::Host>(sim.port, 115200);

    // The flash as the images must leave it: erased sectors 0xFF, then the image's bytes.
    std::vector<std::uint8_t> expected(kFlashSize, 0xFF);
    // The baseline comes after a few cycles, once every buffer the jobs need exists; both
    // measurements are taken at the same point of a cycle.
    const unsigned warmup = std::max(1u, std::min(10u, cycles / 10));
    Usage start;
    Usage end;
    long rssPeak = 0;
    const auto t0 = WallClock::now();
    // One cycle; what it leaves behind is gone before the measurement (the target's report,
    // which grows with every session, is not the driver's to count).
    auto cycle = [&](unsigned c) {
        const bench::SoakImage image = bench::CycleImage(c);
        bench::WriteImageFile(imageFile, image.parts);
        const bool eraseAll = c % 2 == 1;

        std::set<int> erased = image.Sectors();
        for (int s = 0; eraseAll && s < kEraseAllSectors; ++s) {
            erased.insert(s);
        }
        for (const int s : erased) {
            std::fill_n(expected.begin() + static_cast<long>(s * kSectorSize), kSectorSize, 0xFF);
        }
        for (const auto& [address, bytes] : image.parts) {
            std::copy(bytes.begin(), bytes.end(), expected.begin() + address);
        }

        const std::string where = "cycle " + std::to_string(c) + ": ";
        const bench::JobRun init = bench::RunJob(*host, InitializeRequest{monitorFile});
        if (!init.succeeded()) {
            problems.push_back(where + "Initialize failed:" + Joined(init.log));
            return;
        }
        // Read once before the job, as the command line reads it; the job keeps its own copy
        // of the pointer, and the image goes with the cycle.
        const bench::JobRun download =
            bench::RunJob(*host, DownloadRequest{bench::ReadImage(imageFile), imageFile, eraseAll});
        if (!download.succeeded()) {
            problems.push_back(where + "Start Download failed:" + Joined(download.log));
            return;
        }

        std::string json;
        if (!ReadReport(sim, report, &json)) {
            problems.push_back(where + "the target wrote no report");
            return;
        }
        const std::map<int, std::string> digests = bench::SectorDigests(json);
        for (const int s : image.Sectors()) {
            if (digests.find(s) == digests.end()) {
                problems.push_back(where + "sector " + std::to_string(s) + " not programmed");
            }
        }
        for (const auto& [s, digest] : digests) {
            if (digest != Sha256Hex(expected.data() + s * kSectorSize, kSectorSize)) {
                problems.push_back(where + "sector " + std::to_string(s) +
                                   " differs from the image");
            }
        }
    };
    for (unsigned c = 1; c <= cycles && problems.size() < 10; ++c) {
        cycle(c);

        const Usage now = Measure();
        rssPeak = std::max(rssPeak, now.rssKb);
        if (c == warmup) {
            start = now;
        }
        if (c == cycles) {
            end = now;
        }
        if (progress > 0 && c % progress == 0) {
            std::printf("soak: cycle %u: %s\n", c, now.Text().c_str());
            std::fflush(stdout);
        }
    }
    const double seconds = std::chrono::duration<double>(WallClock::now() - t0).count();

    host.reset();
    if (bench::StopSim(sim) != 0) {
        problems.push_back("the virtual target did not end cleanly");
    }
    std::ifstream in(dump, std::ios::binary);
    const std::vector<std::uint8_t> flash(std::istreambuf_iterator<char>(in), {});
    if (flash != expected) {
        problems.push_back("the flash dump differs from the images (" +
                           std::to_string(flash.size()) + " bytes)");
    }
    fs::remove_all(dir);

    std::printf(
        "soak: %u cycles of Initialize + Start Download in %.1f s (%.0f ms a cycle), "
        "erase-all on every other cycle\n",
        cycles, seconds, 1000 * seconds / cycles);
    std::printf("soak: after cycle %u: %s\n", warmup, start.Text().c_str());
    std::printf("soak: at the end:     %s\n", end.Text().c_str());
    const std::string heapGrowth =
        start.heapKb < 0 ? std::string("heap not counted")
                         : "heap " + std::to_string(end.heapKb - start.heapKb) + " kB (tolerance " +
                               std::to_string(heapToleranceKb) + " kB)";
    std::printf(
        "soak: growth: resident %+ld kB (tolerance %ld kB, peak %ld kB), %s, "
        "descriptors %+ld\n",
        end.rssKb - start.rssKb, rssToleranceKb, rssPeak, heapGrowth.c_str(), end.fds - start.fds);
    if (end.rssKb - start.rssKb > rssToleranceKb) {
        problems.push_back("resident memory grew by " + std::to_string(end.rssKb - start.rssKb) +
                           " kB");
    }
    if (start.heapKb >= 0 && end.heapKb - start.heapKb > heapToleranceKb) {
        problems.push_back("the heap grew by " + std::to_string(end.heapKb - start.heapKb) + " kB");
    }
    if (end.fds != start.fds) {
        problems.push_back("open file descriptors went from " + std::to_string(start.fds) + " to " +
                           std::to_string(end.fds));
    }
    if (problems.empty()) {
        std::printf(
            "soak: every flash result equal to its image (per-sector SHA-256 after each "
            "cycle, the whole 16 MB dump at the end)\n");
        return 0;
    }
    for (const std::string& problem : problems) {
        std::printf("soak: FAILED: %s\n", problem.c_str());
    }
    return 1;
}
