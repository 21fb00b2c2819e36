#include "bench/bench_support.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

extern char** environ;

namespace bench {

std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 131 + seed * 17 + (i >> 8)) & 0xFF);
    }
    return bytes;
}

namespace {

std::string Record(unsigned type, unsigned address, const std::uint8_t* data, std::size_t count) {
    char digits[3];
    std::string text = ":";
    unsigned sum = 0;
    auto put = [&](unsigned byte) {
        std::snprintf(digits, sizeof digits, "%02X", byte & 0xFF);
        text += digits;
        sum += byte & 0xFF;
    };
    put(static_cast<unsigned>(count));
    put(address >> 8);
    put(address);
    put(type);
    for (std::size_t i = 0; i < count; ++i) {
        put(data[i]);
    }
    put(0x100 - (sum & 0xFF));
    return text + "\n";
}

}  // namespace

std::string HexAt(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    std::string text;
    int segment = -1;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::uint32_t a = address + static_cast<std::uint32_t>(at);
        if (static_cast<int>(a >> 16) != segment) {
            segment = static_cast<int>(a >> 16);
            const std::uint8_t upper[] = {static_cast<std::uint8_t>(segment >> 8),
                                          static_cast<std::uint8_t>(segment)};
            text += Record(4, 0, upper, 2);
        }
        // At most 32 bytes a record, never across a segment's end.
        const std::size_t n =
            std::min({std::size_t{32}, bytes.size() - at, std::size_t{0x10000 - (a & 0xFFFF)}});
        text += Record(0, a & 0xFFFF, bytes.data() + at, n);
        at += n;
    }
    return text;
}

std::string HexEnd() {
    return Record(1, 0, nullptr, 0);
}

void WriteMonitorFile(const std::filesystem::path& path, std::size_t monitorBytes,
                      std::uint16_t eraseAllSectorCount) {
    std::vector<std::uint8_t> header(172, 0);
    const std::string signature = "MONITOR";
    const std::string name = "Benchmark target";
    std::copy(signature.begin(), signature.end(), header.begin());
    header[8] = 172;
    header[10] = 1;     // loader segment
    header[12] = 2;     // monitor segment
    header[14] = 0x00;  // sync
    header[15] = 0x6B;  // ident
    header[16] = 32;    // Level 0 length
    header[18] = 0x3C;  // loader acknowledge
    header[19] = 1;     // one flash type
    const std::string flashType = "VF16";
    std::copy(flashType.begin(), flashType.end(), header.begin() + 20);
    std::copy(name.begin(), name.end(), header.begin() + 70);
    header[170] = static_cast<std::uint8_t>(eraseAllSectorCount);
    header[171] = static_cast<std::uint8_t>(eraseAllSectorCount >> 8);
    std::ofstream(path) << HexAt(0, header) << HexAt(0x10000, Pattern(448, 1))
                        << HexAt(0x20000, Pattern(monitorBytes, 2)) << HexEnd();
}

SimProcess StartSim(const std::string& program, const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    SimProcess sim;
    const int spawned =
        posix_spawn(&sim.pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        std::fprintf(stderr, "cannot start %s\n", program.c_str());
        std::exit(1);
    }
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
        sim.port += c;
    }
    close(out[0]);
    if (sim.port.empty()) {
        std::fprintf(stderr, "%s printed no line\n", program.c_str());
        std::exit(1);
    }
    return sim;
}

int StopSim(SimProcess& sim) {
    if (sim.pid <= 0) {
        return -1;
    }
    kill(sim.pid, SIGTERM);
    int status = 0;
    waitpid(sim.pid, &status, 0);
    sim.pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

JobRun RunJob(CWorkerThread& worker, MessageQueue& owner, JobParams& job, unsigned message,
              unsigned doneMessage, const std::function<void(const std::string& line)>& onLine) {
    JobRun run;
    g_bStopJob = 0;
    worker.PostThreadMessage(message, 0, reinterpret_cast<LParam>(&job));
    while (!run.done) {
        auto next = owner.Take();
        if (!next) {
            break;
        }
        if (next->message == UM_LOG_LINE) {
            run.log.push_back(*TakePostedString(next->lParam));
            if (onLine) {
                onLine(run.log.back());
            }
        } else if (next->message == UM_LOG_APPEND) {
            const auto text = TakePostedString(next->lParam);
            if (!run.log.empty()) {
                run.log.back() += *text;
            }
        } else if (next->message == doneMessage) {
            run.done = true;
            run.aborted = next->wParam;
            run.succeeded = next->lParam;
        } else {
            DiscardPostedMessage(*next);
        }
    }
    g_bStopJob = 1;
    return run;
}

}  // namespace bench
