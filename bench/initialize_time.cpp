// One Initialize on a JobRunner, timed: the whole job and its monitor upload (from the log
// line "Send Monitor" to "Monitor started!"), and the CPU the process took during the upload.
//   initialize_time PORT MONITOR_FILE BAUD ECHO_WINDOW
// Prints "initialize S upload S upload-cpu S monitor-bytes N" and exits 0 when the monitor started,
// else prints the job's last log line and exits 1. bench/echo_window.py runs it against
// quillon-sim.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_support.h"
#include "helpers/text_format.h"

using namespace quillon;

namespace {

using WallClock = std::chrono::steady_clock;

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Seconds(WallClock::time_point from, WallClock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: initialize_time PORT MONITOR_FILE BAUD ECHO_WINDOW\n");
        return 2;
    }
    const std::optional<std::int64_t> baud = DecimalInRange(argv[3], 1, 100000000);
    const std::optional<std::int64_t> window =
        DecimalInRange(argv[4], EchoWindow::kLockStep, EchoWindow::kLargest);
    if (!baud || !window) {
        std::fprintf(stderr, "initialize_time: baud rate or echo window out of range\n");
        return 2;
    }
    WallClock::time_point uploadStart{};
    WallClock::time_point uploadEnd{};
    double cpuStart = 0;
    double cpuEnd = 0;
    long monitorBytes = 0;
    bench::Host host(argv[1], static_cast<int>(*baud));
    const WallClock::time_point start = WallClock::now();
    const bench::JobRun run = bench::RunJob(
        host, InitializeRequest{argv[2], EchoWindow{static_cast<std::uint32_t>(*window)}},
        [&](const std::string& line) {
            if (line.rfind("Send Monitor", 0) == 0) {
                uploadStart = WallClock::now();
                cpuStart = ProcessCpuSeconds();
                const std::size_t arrow = line.find("==> ");
                // "==> N ...": the count up to the first character that is no digit.
                const std::string count = arrow == std::string::npos ? "" : line.substr(arrow + 4);
                monitorBytes =
                    DecimalInRange(count.substr(0, count.find_first_not_of("0123456789")), 0,
                                   100000000)
                        .value_or(0);
            } else if (line == "Monitor started!") {
                uploadEnd = WallClock::now();
                cpuEnd = ProcessCpuSeconds();
            }
        });
    const WallClock::time_point end = WallClock::now();
    if (!run.succeeded()) {
        std::printf("failed: %s\n", run.log.empty() ? "" : run.log.back().c_str());
        return 1;
    }
    std::printf("initialize %.4f upload %.4f upload-cpu %.4f monitor-bytes %ld\n",
                Seconds(start, end), Seconds(uploadStart, uploadEnd), cpuEnd - cpuStart,
                monitorBytes);
    return 0;
}
