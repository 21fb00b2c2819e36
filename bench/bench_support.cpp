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

#include "helpers/text_format.h"
#include "image/hex_reader.h"
#include "tests/support/hex_text.h"
#include "tests/support/monitor_file.h"

extern char** environ;

namespace quillon {

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

void JobWatch::OnJobEvent(const JobEvent& event) {
    switch (event.kind) {
        case JobEvent::Kind::kLine:
            OnLine(event.text);
            break;
        case JobEvent::Kind::kAppend:
            OnAppend(event.text);
            break;
        case JobEvent::Kind::kReaderMessage:
            OnLine("reader: " + event.file + ": " + event.text);
            break;
        case JobEvent::Kind::kDone:
            OnDone(event.result);
            break;
        default:
            break;
    }
}

void JobWatch::OnLine(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_log.push_back(text);
    }
    if (m_onLine) {
        m_onLine(text);
    }
}

void JobWatch::OnAppend(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_log.empty()) {
        m_log.back() += text;
    }
}

void JobWatch::OnDone(const JobResult& result) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_doneCount;
    if (!m_result) {
        m_result = result;
    }
    m_changed.notify_all();
}

bool JobWatch::WaitDone(std::chrono::steady_clock::time_point until) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_until(lock, until, [this] { return m_result.has_value(); });
}

void JobWatch::WaitDone() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_result.has_value(); });
}

int JobWatch::DoneCount() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_doneCount;
}

std::optional<JobResult> JobWatch::Result() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_result;
}

std::vector<std::string> JobWatch::Log() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log;
}

Host::Host(const std::string& port, int baud) : runner(std::make_unique<JobRunner>()) {
    line.port = port;
    line.baud = BaudRate{static_cast<std::uint32_t>(baud)};
}

Host::~Host() {
    runner.reset();
}

JobRun RunJob(Host& host, std::variant<InitializeRequest, DownloadRequest> job,
              const std::function<void(const std::string& line)>& onLine,
              std::chrono::milliseconds deadline, std::chrono::milliseconds stopGrace) {
    using WallClock = std::chrono::steady_clock;
    JobRun run;
    run.watch = std::make_shared<JobWatch>(onLine);
    host.watches.push_back(run.watch);
    JobRequest request;
    request.job = std::move(job);
    request.line = host.line;
    request.timeouts = host.timeouts;
    host.runner->Start(std::move(request), *run.watch);
    if (deadline == std::chrono::milliseconds::zero()) {
        run.watch->WaitDone();
        run.done = true;
    } else if (run.watch->WaitDone(WallClock::now() + deadline)) {
        run.done = true;
    } else {
        run.overran = true;
        host.runner->RequestStop();
        run.done = run.watch->WaitDone(WallClock::now() + stopGrace);
    }
    if (run.done) {
        // The job's thread ends right after its done event.
        host.runner->Wait();
        run.result = *run.watch->Result();
        // Its thread has ended: nothing reports to the watch any more, and the host need not
        // keep it (a long soak would otherwise collect every job's log).
        std::erase(host.watches, run.watch);
    }
    run.log = run.watch->Log();
    run.doneMessages = run.watch->DoneCount();
    return run;
}

std::shared_ptr<const HexImage> ReadImage(const std::string& path) {
    HexReadResult read = ReadHexFile(path);
    if (!read) {
        std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), read.error().text.c_str());
        std::exit(1);
    }
    return std::make_shared<const HexImage>(std::move(read->image));
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
        digests[static_cast<int>(DecimalInRange((*it)[1], 0, 1000000).value_or(0))] = (*it)[2];
    }
    return digests;
}

}  // namespace bench

}  // namespace quillon
