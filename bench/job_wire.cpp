// The jobs against the virtual target with baud pacing: how close the monitor upload and the
// programming phase come to the limit the wire sets, and how much CPU the host uses.
//   job_wire QUILLON_SIM [--monitor-bytes N] [--image-bytes N] [--latency-us US] [BAUD...]
//   (defaults: a 16 KiB monitor, a 256 KiB image, 115200 and 57600 baud)
// Wire limits: monitor upload 2 x (N + 5) bytes, programming blocks x (141 + 7) bytes, at
// 10 bits a byte. With --latency-us the simulator delivers its bytes as a USB adapter with that
// latency timer does, at its ticks; programming is then also measured against what stop and
// wait allows at that latency: each block leaves in the next 1 ms USB frame after its write, and
// its answer, once the 148 bytes have crossed the wire, is delivered at the adapter's next tick.
// Percentages are wire limit / measured time; CPU is the host process's user +
// system time over the phase's wall time (the simulator runs as a process of its own).
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "helpers/text_format.h"
#include "tests/support/hex_text.h"

using namespace quillon;

namespace {

using WallClock = std::chrono::steady_clock;
constexpr std::size_t kDefaultMonitorBytes = 16 * 1024;
constexpr std::size_t kDefaultImageBytes = 256 * 1024;

// --- The host ------------------------------------------------------------------------------

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Phase {
    WallClock::time_point start, end;
    double cpuStart = 0, cpuEnd = 0;
    bool started = false, ended = false;
    double Seconds() const { return std::chrono::duration<double>(end - start).count(); }
    double Cpu() const { return cpuEnd - cpuStart; }
};

// Runs one job and times the phase between the log line starting with `from` and the one
// starting with `to`.
bool TimedJob(bench::Host& host, std::variant<InitializeRequest, DownloadRequest> job,
              const std::string& from, const std::string& to, Phase& phase) {
    const bench::JobRun run = bench::RunJob(host, std::move(job), [&](const std::string& line) {
        if (!phase.started && line.rfind(from, 0) == 0) {
            phase.started = true;
            phase.start = WallClock::now();
            phase.cpuStart = ProcessCpuSeconds();
        } else if (phase.started && !phase.ended && line.rfind(to, 0) == 0) {
            phase.ended = true;
            phase.end = WallClock::now();
            phase.cpuEnd = ProcessCpuSeconds();
        }
    });
    return run.succeeded() && phase.ended;
}

void Report(const char* what, double wireSeconds, const Phase& phase) {
    std::printf(
        "  %-16s wire limit %7.3f s, measured %7.3f s: %5.1f%% of the wire limit, CPU %4.1f%% of "
        "wall time\n",
        what, wireSeconds, phase.Seconds(), 100.0 * wireSeconds / phase.Seconds(),
        100.0 * phase.Cpu() / phase.Seconds());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(
            stderr,
            "usage: job_wire QUILLON_SIM [--monitor-bytes N] [--image-bytes N] [--latency-us US] "
            "[BAUD...]\n");
        return 2;
    }
    std::size_t monitorBytes = kDefaultMonitorBytes;
    std::size_t imageBytes = kDefaultImageBytes;
    std::int64_t latencyUs = 0;
    std::vector<unsigned> bauds;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool size =
            (arg == "--monitor-bytes" || arg == "--image-bytes" || arg == "--latency-us") &&
            i + 1 < argc;
        const std::optional<std::int64_t> number =
            DecimalInRange(size ? argv[++i] : argv[i], 0, 1000000000);
        if (!number) {
            std::fprintf(stderr, "job_wire: %s is not a number\n", argv[i]);
            return 2;
        }
        if (arg == "--latency-us") {
            latencyUs = *number;
        } else if (size) {
            (arg == "--monitor-bytes" ? monitorBytes : imageBytes) =
                static_cast<std::size_t>(*number);
        } else {
            bauds.push_back(static_cast<unsigned>(*number));
        }
    }
    // The monitor fills at most its segment; the image is whole blocks from sector 4 on.
    const bool badBaud = std::find(bauds.begin(), bauds.end(), 0u) != bauds.end();
    if (monitorBytes < 1 || monitorBytes > 0x10000 || imageBytes < 128 ||
        imageBytes > 64 * 0x10000 || badBaud) {
        std::fprintf(stderr, "job_wire: sizes or baud rate out of range\n");
        return 2;
    }
    imageBytes -= imageBytes % 128;
    if (bauds.empty()) {
        bauds = {115200, 57600};
    }
    const auto dir =
        std::filesystem::temp_directory_path() / ("quillon-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string monitorFile = (dir / "bench.h86").string();
    const std::string imageFile = (dir / "bench.hex").string();
    bench::WriteMonitorFile(monitorFile, monitorBytes);
    bench::WriteImageFile(imageFile, {{0x40000, hex_text::Pattern(imageBytes, 3)}});

    int status = 0;
    std::printf("monitor upload of %zu bytes, programming of %zu bytes (%zu blocks)\n",
                monitorBytes, imageBytes, imageBytes / 128);
    for (unsigned baud : bauds) {
        std::vector<std::string> simOptions = {"--monitor",          monitorFile,  "--baud",
                                               std::to_string(baud), "--link",     "none",
                                               "--blank-flash",      "--erase-ms", "0"};
        if (latencyUs > 0) {
            simOptions.insert(simOptions.end(), {"--latency-us", std::to_string(latencyUs)});
        }
        bench::SimProcess sim = bench::StartSim(argv[1], simOptions);
        Phase upload;
        Phase programming;
        bool initialized = false;
        bool downloaded = false;
        {
            bench::Host host(sim.port, static_cast<int>(baud));
            initialized = TimedJob(host, InitializeRequest{monitorFile}, "Send Monitor",
                                   "Monitor started!", upload);
            // Read before the job, as the command line reads it: not part of the timed phase.
            downloaded = initialized &&
                         TimedJob(host, DownloadRequest{bench::ReadImage(imageFile), imageFile},
                                  "Programming sector", "Finalizing download", programming);
        }
        std::printf("%u baud:\n", baud);
        if (initialized) {
            Report("monitor upload", 2.0 * static_cast<double>(monitorBytes + 5) * 10 / baud,
                   upload);
        }
        if (downloaded) {
            const double blockWire = (141.0 + 7) * 10 / baud;
            const double blocks = static_cast<double>(imageBytes / 128);
            Report("programming", blocks * blockWire, programming);
            if (latencyUs > 0) {
                const double tick = static_cast<double>(latencyUs) / 1e6;
                const double frame = std::min(tick, 0.001);
                Report("stop and wait", blocks * std::ceil((frame + blockWire) / tick) * tick,
                       programming);
            }
        }
        if (!initialized || !downloaded) {
            std::printf("  a job failed\n");
            status = 1;
        }
        bench::StopSim(sim);
    }
    std::filesystem::remove_all(dir);
    return status;
}
