#include "bench/bench_support.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <regex>

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
    End();
}

int Host::End() {
    if (!worker) {
        return 0;
    }
    worker->PostThreadMessage(UM_QUIT, 0, 0);
    worker->WaitForEnd();
    worker.reset();
    int done = 0;
    while (auto message = owner.TryTake()) {
        done += message->message == UM_INIT_DONE || message->message == UM_DOWNLOAD_DONE;
        DiscardPostedMessage(*message);
    }
    return done;
}

JobRun RunJob(Host& host, unsigned message, unsigned doneMessage,
              const std::function<void(const std::string& line)>& onLine,
              std::chrono::milliseconds deadline, std::chrono::milliseconds stopGrace) {
    using Clock = std::chrono::steady_clock;
    JobRun run;
    g_bStopJob = 0;
    host.worker->PostThreadMessage(message, 0, reinterpret_cast<LParam>(&host.job));
    Clock::time_point end = Clock::now() + deadline;
    while (!run.done) {
        std::optional<QueuedMessage> next;
        if (deadline == std::chrono::milliseconds::zero()) {
            next = host.owner.Take();
        } else {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
            if (left.count() <= 0) {
                if (run.overran) {
                    break;  // not even the stop ended it
                }
                run.overran = true;
                g_bStopJob = 1;
                end = Clock::now() + stopGrace;
                continue;
            }
            next = host.owner.TakeFor(static_cast<std::uint32_t>(left.count()));
            if (!next && !host.owner.IsClosed()) {
                continue;
            }
        }
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
            ++run.doneMessages;
            run.done = true;
            run.aborted = next->wParam;
            run.succeeded = next->lParam;
        } else if (next->message == UM_INIT_DONE || next->message == UM_DOWNLOAD_DONE) {
            ++run.doneMessages;  // another job's: one too many
        } else {
            DiscardPostedMessage(*next);
        }
    }
    g_bStopJob = 1;
    return run;
}

std::set<int> SoakImage::Sectors() const {
    std::set<int> sectors;
    for (const auto& [address, bytes] : parts) {
        for (std::size_t i = 0; i < bytes.size(); i += kSectorSize) {
            sectors.insert(static_cast<int>((address + i) / kSectorSize));
        }
        sectors.insert(static_cast<int>((address + bytes.size() - 1) / kSectorSize));
    }
    return sectors;
}

int SoakImage::BlockCount() const {
    std::map<std::uint32_t, std::uint32_t> marks;  // sector -> offset of its last byte
    for (const auto& [address, bytes] : parts) {
        const std::uint32_t last = address + static_cast<std::uint32_t>(bytes.size()) - 1;
        for (std::uint32_t s = address / kSectorSize; s <= last / kSectorSize; ++s) {
            const std::uint32_t end =
                s == last / kSectorSize ? last % kSectorSize : kSectorSize - 1;
            marks[s] = std::max(marks[s], end);
        }
    }
    int blocks = 0;
    for (const auto& [sector, mark] : marks) {
        blocks += static_cast<int>(mark / 128 + 1);
    }
    return blocks;
}

void SoakImage::ApplyTo(std::vector<std::uint8_t>& flash) const {
    for (const int s : Sectors()) {
        std::fill_n(flash.begin() + static_cast<long>(s) * kSectorSize, kSectorSize, 0xFF);
    }
    for (const auto& [address, bytes] : parts) {
        std::copy(bytes.begin(), bytes.end(), flash.begin() + address);
    }
}

SoakImage CycleImage(unsigned c) {
    SoakImage image;
    const auto first =
        static_cast<std::uint32_t>((c % 6) * SoakImage::kSectorSize + (c * 97) % 4096);
    image.parts.push_back({first, hex_text::Pattern(200 + (c * 389) % 6000, c)});
    const auto second = static_cast<std::uint32_t>((8 + c % 3) * SoakImage::kSectorSize);
    image.parts.push_back({second, hex_text::Pattern(1 + (c * 53) % 300, c + 1000)});
    return image;
}

std::map<int, std::string> SectorDigests(const std::string& json) {
    std::map<int, std::string> digests;
    const std::size_t at = json.find("\"programmedSectors\"");
    if (at == std::string::npos) {
        return digests;
    }
    static const std::regex entry("\\{\"sector\": (\\d+), \"sha256\": \"([0-9a-f]{64})\"\\}");
    const std::string rest = json.substr(at);
    for (std::sregex_iterator it(rest.begin(), rest.end(), entry), end; it != end; ++it) {
        digests[std::stoi((*it)[1])] = (*it)[2];
    }
    return digests;
}

}  // namespace bench
