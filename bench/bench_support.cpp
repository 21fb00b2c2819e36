#include "bench/bench_support.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tests/support/hex_text.h"
#include "tests/support/monitor_file.h"

extern char** environ;

namespace bench {

void WriteMonitorFile(const std::filesystem::path& path, std::size_t monitorBytes,
                      std::uint16_t eraseAllSectorCount) {
    MonitorFileSpec spec;
    spec.targetName = "Benchmark target";
    spec.identByte = 0x6B;
    spec.loaderAck = 0x3C;
    spec.flashTypes = {"VF16"};
    spec.level0Length = 32;
    spec.eraseAllSectorCount = eraseAllSectorCount;
    spec.loader = hex_text::Pattern(448, 1);
    spec.monitor = hex_text::Pattern(monitorBytes, 2);
    std::ofstream(path) << spec.HexText();
}

void WriteImageFile(const std::filesystem::path& path,
                    const std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>& parts) {
    std::ofstream out(path, std::ios::trunc);
    for (const auto& [address, bytes] : parts) {
        out << HexTextAt(address, bytes);
    }
    out << hex_text::End();
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

Host::Host(const std::string& port, int baud) : worker(BeginThread<CWorkerThread>(eraseAll)) {
    job.hWndOwner = &owner;
    job.strPort = port;
    job.nBaudRate = baud;
}

Host::~Host() {
    worker->PostThreadMessage(UM_QUIT, 0, 0);
    worker->WaitForEnd();
    while (auto message = owner.TryTake()) {
        DiscardPostedMessage(*message);
    }
}

JobRun RunJob(Host& host, unsigned message, unsigned doneMessage,
              const std::function<void(const std::string& line)>& onLine) {
    JobRun run;
    g_bStopJob = 0;
    host.worker->PostThreadMessage(message, 0, reinterpret_cast<LParam>(&host.job));
    while (!run.done) {
        auto next = host.owner.Take();
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
