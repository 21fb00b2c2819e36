// The jobs against the virtual target with baud pacing: how close the monitor upload and the
// programming phase come to the limit the wire sets, and how much CPU the host uses.
//   job_wire QUILLON_SIM [BAUD...]        (default bauds: 115200 57600)
// Wire limits: monitor upload 2 x (N + 5) bytes, programming blocks x (141 + 7) bytes, at
// 10 bits a byte. Percentages are wire limit / measured time; CPU is the host process's user +
// system time over the phase's wall time (the simulator runs as a process of its own).
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/messages.h"
#include "link/worker_thread.h"
#include "platform/debug_channel.h"
#include "platform/message_box.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kMonitorBytes = 16 * 1024;
constexpr std::size_t kImageBytes = 256 * 1024;

// --- Files ---------------------------------------------------------------------------------

std::string Record(unsigned type, unsigned address, const std::vector<std::uint8_t>& data) {
    char digits[3];
    std::string text = ":";
    unsigned sum = 0;
    auto put = [&](unsigned byte) {
        std::snprintf(digits, sizeof digits, "%02X", byte & 0xFF);
        text += digits;
        sum += byte & 0xFF;
    };
    put(static_cast<unsigned>(data.size()));
    put(address >> 8);
    put(address);
    put(type);
    for (std::uint8_t b : data) {
        put(b);
    }
    put(0x100 - (sum & 0xFF));
    return text + "\n";
}

std::string HexAt(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    std::string text;
    int segment = -1;
    for (std::size_t at = 0; at < bytes.size(); at += 32) {
        const std::uint32_t a = address + static_cast<std::uint32_t>(at);
        if (static_cast<int>(a >> 16) != segment) {
            segment = static_cast<int>(a >> 16);
            text += Record(4, 0, {0, static_cast<std::uint8_t>(segment)});
        }
        const std::size_t n = std::min<std::size_t>(32, bytes.size() - at);
        text += Record(0, a & 0xFFFF,
                       std::vector<std::uint8_t>(bytes.begin() + static_cast<long>(at),
                                                 bytes.begin() + static_cast<long>(at + n)));
    }
    return text;
}

std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 131 + seed * 17 + (i >> 8)) & 0xFF);
    }
    return bytes;
}

void WriteFiles(const std::filesystem::path& dir) {
    std::vector<std::uint8_t> header(172, 0);
    const char name[] = "Benchmark target";
    std::copy(std::begin("MONITOR"), std::begin("MONITOR") + 7, header.begin());
    header[8] = 172;
    header[10] = 1;     // loader segment
    header[12] = 2;     // monitor segment
    header[14] = 0x00;  // sync
    header[15] = 0x6B;  // ident
    header[16] = 32;    // Level 0 length
    header[18] = 0x3C;  // loader acknowledge
    header[19] = 1;
    std::copy(std::begin("VF16"), std::begin("VF16") + 4, header.begin() + 20);
    std::copy(std::begin(name), std::end(name), header.begin() + 70);
    std::ofstream(dir / "bench.h86")
        << HexAt(0, header) << HexAt(0x10000, Pattern(448, 1))
        << HexAt(0x20000, Pattern(kMonitorBytes, 2)) << Record(1, 0, {});
    std::ofstream(dir / "bench.hex") << HexAt(0x40000, Pattern(kImageBytes, 3)) << Record(1, 0, {});
}

// --- The simulator -------------------------------------------------------------------------

struct Sim {
    pid_t pid = -1;
    std::string port;
};

Sim StartSim(const std::string& program, const std::filesystem::path& dir, unsigned baud) {
    int out[2];
    if (pipe(out) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    const std::string monitor = (dir / "bench.h86").string();
    const std::string rate = std::to_string(baud);
    std::vector<std::string> args = {program,  "--monitor", monitor,         "--baud",     rate,
                                     "--link", "none",      "--blank-flash", "--erase-ms", "0"};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    Sim sim;
    if (posix_spawn(&sim.pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    close(out[1]);
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
        sim.port += c;
    }
    close(out[0]);
    return sim;
}

void StopSim(const Sim& sim) {
    kill(sim.pid, SIGTERM);
    waitpid(sim.pid, nullptr, 0);
}

// --- The host ------------------------------------------------------------------------------

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Phase {
    Clock::time_point start, end;
    double cpuStart = 0, cpuEnd = 0;
    bool started = false, ended = false;
    double Seconds() const { return std::chrono::duration<double>(end - start).count(); }
    double Cpu() const { return cpuEnd - cpuStart; }
};

// Runs one job and times the phase between the log line starting with `from` and the one
// starting with `to`.
bool RunJob(CWorkerThread& worker, MessageQueue& owner, JobParams& job, unsigned message,
            unsigned done, const std::string& from, const std::string& to, Phase& phase) {
    g_bStopJob = 0;
    worker.PostThreadMessage(message, 0, reinterpret_cast<LParam>(&job));
    for (;;) {
        auto next = owner.Take();
        if (!next) {
            return false;
        }
        if (next->message == UM_LOG_LINE) {
            const std::string line = *TakePostedString(next->lParam);
            if (!phase.started && line.rfind(from, 0) == 0) {
                phase.started = true;
                phase.start = Clock::now();
                phase.cpuStart = ProcessCpuSeconds();
            } else if (phase.started && !phase.ended && line.rfind(to, 0) == 0) {
                phase.ended = true;
                phase.end = Clock::now();
                phase.cpuEnd = ProcessCpuSeconds();
            }
        } else if (next->message == UM_LOG_APPEND) {
            TakePostedString(next->lParam);
        } else if (next->message == done) {
            g_bStopJob = 1;
            return next->lParam == 1 && phase.ended;
        }
    }
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
        std::fprintf(stderr, "usage: job_wire QUILLON_SIM [BAUD...]\n");
        return 2;
    }
    std::vector<unsigned> bauds;
    for (int i = 2; i < argc; ++i) {
        bauds.push_back(static_cast<unsigned>(std::atoi(argv[i])));
    }
    if (bauds.empty()) {
        bauds = {115200, 57600};
    }
    SetDebugTextHandler([](const std::string&) {});
    SetMessageBoxHandler(
        [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
    const auto dir =
        std::filesystem::temp_directory_path() / ("quillon-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    WriteFiles(dir);

    int status = 0;
    std::printf("monitor upload of %zu bytes, programming of %zu bytes (%zu blocks)\n",
                kMonitorBytes, kImageBytes, kImageBytes / 128);
    for (unsigned baud : bauds) {
        const Sim sim = StartSim(argv[1], dir, baud);
        std::atomic<int> eraseAll{0};
        MessageQueue owner;
        auto worker = BeginThread<CWorkerThread>(eraseAll);
        JobParams job;
        job.hWndOwner = &owner;
        job.strPort = sim.port;
        job.nBaudRate = static_cast<std::int32_t>(baud);
        job.strFile = (dir / "bench.h86").string();
        Phase upload;
        Phase programming;
        const bool initialized = RunJob(*worker, owner, job, UM_INITIALIZE, UM_INIT_DONE,
                                        "Send Monitor", "Monitor started!", upload);
        job.strFile = (dir / "bench.hex").string();
        const bool downloaded =
            initialized && RunJob(*worker, owner, job, UM_DOWNLOAD, UM_DOWNLOAD_DONE,
                                  "Programming sector", "Finalizing download", programming);
        std::printf("%u baud:\n", baud);
        if (initialized) {
            Report("monitor upload", 2.0 * (kMonitorBytes + 5) * 10 / baud, upload);
        }
        if (downloaded) {
            Report("programming", (kImageBytes / 128.0) * (141 + 7) * 10 / baud, programming);
        }
        if (!initialized || !downloaded) {
            std::printf("  a job failed\n");
            status = 1;
        }
        worker->PostThreadMessage(UM_QUIT, 0, 0);
        worker->WaitForEnd();
        StopSim(sim);
    }
    std::filesystem::remove_all(dir);
    return status;
}
