#include "cli/production_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

#include "cli/cli_runner.h"
#include "cli/station.h"
#include "platform/text_format.h"

namespace {

// How long a port that came back is left alone before its board starts: the system sets up
// the device (its owner and mode) just after it appears.
constexpr auto kSettleTime = std::chrono::milliseconds(1000);
// How often a station waiting for its port looks for it.
constexpr int kReplugPollMs = 200;

std::atomic<int> g_stopSignals{0};
int g_signalPipe[2] = {-1, -1};

extern "C" void OnProductionSignal(int) {
    const int saved = errno;
    g_stopSignals.fetch_add(1);
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

// Installs the handlers for SIGINT and SIGTERM for as long as it lives.
class StopSignals {
public:
    StopSignals() {
        if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            g_signalPipe[0] = g_signalPipe[1] = -1;
        }
        struct sigaction action {};
        action.sa_handler = OnProductionSignal;
        sigemptyset(&action.sa_mask);
        for (const int signal : {SIGINT, SIGTERM}) {
            ::sigaction(signal, &action, &m_previous[signal == SIGINT ? 0 : 1]);
        }
    }
    ~StopSignals() {
        ::sigaction(SIGINT, &m_previous[0], nullptr);
        ::sigaction(SIGTERM, &m_previous[1], nullptr);
        for (int& fd : g_signalPipe) {
            if (fd >= 0) {
                ::close(fd);
                fd = -1;
            }
        }
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    int fd() const { return g_signalPipe[0]; }
    void Drain() const {
        char buffer[64];
        while (g_signalPipe[0] >= 0 && ::read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
        }
    }

private:
    struct sigaction m_previous[2]{};
};

bool PortPresent(const std::string& port) {
    struct stat status {};
    return ::stat(port.c_str(), &status) == 0;
}

// The operator's input: whole lines from stdin, read without blocking.
class OperatorInput {
public:
    explicit OperatorInput(bool watch) : m_watch(watch) {}
    int fd() const { return m_watch ? STDIN_FILENO : -1; }
    // Reads what is there into whole lines; false once the input has ended.
    bool Read(std::vector<std::string>& lines) {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            return true;
        }
        if (n <= 0) {
            m_watch = false;
            return false;
        }
        m_partial.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = m_partial.find('\n')) != std::string::npos;) {
            lines.push_back(m_partial.substr(0, end));
            m_partial.erase(0, end + 1);
        }
        m_partial = m_partial.substr(0, 256);  // no line of the operator's is that long
        return true;
    }

private:
    bool m_watch;
    std::string m_partial;
};

bool IsQuit(std::string line) {
    line.erase(std::remove_if(line.begin(), line.end(),
                              [](char c) { return c == ' ' || c == '\t' || c == '\r'; }),
               line.end());
    return line == "q" || line == "Q";
}

// Two names of one device (a link and the device itself, say): two stations would talk to
// one board at once. Returns the pair's message, or empty. Names that do not exist yet are
// left to their stations.
std::string SameDevice(const std::vector<std::string>& ports) {
    std::vector<std::pair<struct stat, std::string>> seen;
    for (const std::string& port : ports) {
        struct stat status {};
        if (::stat(port.c_str(), &status) != 0) {
            continue;
        }
        for (const auto& [other, name] : seen) {
            if (other.st_dev == status.st_dev && other.st_ino == status.st_ino) {
                return "ports " + EscapeForTerminal(name, false) + " and " +
                       EscapeForTerminal(port, false) + " are the same device";
            }
        }
        seen.emplace_back(status, port);
    }
    return {};
}

}  // namespace

int RunProduction(const CliOptions& options, const std::string& program,
                  const std::string& monitorFile, bool errIsTerminal, bool sharedTerminal) {
    if (const std::string same = SameDevice(options.ports); !same.empty()) {
        std::fprintf(stderr, "quillon-cli: %s\nTry 'quillon-cli --help' for more information.\n",
                     same.c_str());
        return kExitUsage;
    }
    StationDisplay display(stdout, stderr, options.ports, errIsTerminal, sharedTerminal);
    std::vector<std::unique_ptr<Station>> stations;
    for (const std::string& port : options.ports) {
        stations.push_back(std::make_unique<Station>(stations.size(), port));
    }
    const auto argvForBoard = [&](const std::string& port) {
        return [&options, &program, &monitorFile, port](int board) {
            std::vector<std::string> argv = {
                program,    "--station-board", std::to_string(board),        "--port",
                port,       "--baud",          std::to_string(options.baud), "--monitor",
                monitorFile};
            if (options.eraseAll) {
                argv.push_back("--erase-all");
            }
            if (!options.record.empty()) {
                argv.insert(argv.end(), {"--record", options.record});
            }
            if (options.initOnly) {
                argv.push_back("--init-only");
            } else {
                argv.insert(argv.end(), {"--", options.image});
            }
            return argv;
        };
    };

    StopSignals signals;
    const bool terminalInput = ::isatty(STDIN_FILENO) != 0;
    // Enter starts the waiting stations; with --repeat=replug a terminal's "q" still ends them.
    OperatorInput input(options.repeat == RepeatMode::kEnter ||
                        (options.repeat == RepeatMode::kReplug && terminalInput));
    if (options.repeat == RepeatMode::kEnter && terminalInput) {
        display.RunMessage(
            "quillon-cli: after each board its station waits: Enter starts every waiting "
            "station, q and Enter ends them");
    }

    bool abortRequested = false;
    bool killed = false;
    bool quit = false;  // no further boards: the input said q or ended
    for (auto& station : stations) {
        station->StartBoard(argvForBoard(station->port()), display);
    }

    // What a station does after its board.
    const auto afterBoard = [&](Station& station) {
        if (options.repeat != RepeatMode::kOnce) {
            display.Line(station.index(), BoardCountLine(station.totals()));
        }
        if (abortRequested || quit || options.repeat == RepeatMode::kOnce) {
            station.SetState(StationState::kEnded);
        } else if (options.repeat == RepeatMode::kEnter) {
            station.SetState(StationState::kWaitingForEnter);
        } else {
            station.SetState(StationState::kWaitingForUnplug);
        }
    };
    for (auto& station : stations) {
        if (!station->process().Running() && station->state() == StationState::kEnded) {
            afterBoard(*station);  // could not even start
        }
        display.SetStatus(station->index(), station->StatusText());
    }

    const auto anyIn = [&](StationState state) {
        return std::any_of(stations.begin(), stations.end(),
                           [state](const auto& s) { return s->state() == state; });
    };
    const auto endWaiting = [&] {
        for (auto& station : stations) {
            if (station->state() != StationState::kRunning) {
                station->SetState(StationState::kEnded);
            }
        }
    };

    while (!std::all_of(stations.begin(), stations.end(),
                        [](const auto& s) { return s->state() == StationState::kEnded; })) {
        std::vector<pollfd> fds = {{signals.fd(), POLLIN, 0}, {input.fd(), POLLIN, 0}};
        for (auto& station : stations) {
            fds.push_back({station->process().OutputFd(), POLLIN, 0});
        }
        int timeout = display.Refresh();
        if (signals.fd() < 0) {
            timeout = timeout < 0 ? 100 : std::min(timeout, 100);  // signals seen by looking
        }
        if (anyIn(StationState::kWaitingForUnplug) || anyIn(StationState::kWaitingForPort) ||
            anyIn(StationState::kSettling)) {
            timeout = timeout < 0 ? kReplugPollMs : std::min(timeout, kReplugPollMs);
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            display.RunMessage(std::string("quillon-cli: waiting failed: ") + std::strerror(errno));
            abortRequested = true;
            killed = true;
        }

        signals.Drain();  // before the count is read, so that no later signal is lost
        const int stops = g_stopSignals.load();
        if (stops > 0 && !abortRequested) {
            // Every station ends its job at the next step; none starts another board.
            abortRequested = true;
            for (auto& station : stations) {
                station->process().RequestAbort();
            }
            endWaiting();
        }
        if (stops > 1) {
            killed = true;  // asked again: at once
        }
        if (killed) {
            for (auto& station : stations) {
                station->process().Kill();
            }
        }

        if (fds[1].fd >= 0 && fds[1].revents != 0) {
            std::vector<std::string> lines;
            const bool more = input.Read(lines);
            for (const std::string& line : lines) {
                if (IsQuit(line)) {
                    quit = true;
                } else if (options.repeat == RepeatMode::kEnter && !quit && !abortRequested) {
                    for (auto& station : stations) {
                        if (station->state() == StationState::kWaitingForEnter) {
                            station->StartBoard(argvForBoard(station->port()), display);
                            if (station->state() == StationState::kEnded) {
                                afterBoard(*station);
                            }
                        }
                    }
                }
            }
            if (!more && options.repeat == RepeatMode::kEnter) {
                quit = true;  // nobody can press Enter any more
            }
            if (quit) {
                endWaiting();
            }
        }

        for (std::size_t i = 0; i < stations.size(); ++i) {
            Station& station = *stations[i];
            if (fds[2 + i].fd >= 0 && fds[2 + i].revents != 0 &&
                station.OnOutput(abortRequested, display)) {
                afterBoard(station);
            }
        }

        const auto now = std::chrono::steady_clock::now();
        for (auto& station : stations) {
            switch (station->state()) {
                case StationState::kWaitingForUnplug:
                    if (!PortPresent(station->port())) {
                        station->SetState(StationState::kWaitingForPort);
                    }
                    break;
                case StationState::kWaitingForPort:
                    if (PortPresent(station->port())) {
                        station->SetState(StationState::kSettling);
                        station->settleUntil = now + kSettleTime;
                    }
                    break;
                case StationState::kSettling:
                    if (!PortPresent(station->port())) {
                        station->SetState(StationState::kWaitingForPort);
                    } else if (now >= station->settleUntil) {
                        station->StartBoard(argvForBoard(station->port()), display);
                        if (station->state() == StationState::kEnded) {
                            afterBoard(*station);
                        }
                    }
                    break;
                default:
                    break;
            }
            display.SetStatus(station->index(), station->StatusText());
        }
    }

    std::vector<StationTotals> totals;
    bool allOk = true;
    bool anyAborted = false;
    for (const auto& station : stations) {
        totals.push_back(station->totals());
        allOk = allOk && station->totals().ok == station->totals().boards;
        anyAborted = anyAborted || station->totals().aborted > 0;
    }
    display.Finish("\n" + SummaryTable(totals, options.repeat != RepeatMode::kOnce));
    // Stopped while every station waited for its next board, nothing was cut short: the
    // boards' results say how the run went.
    int status = anyAborted ? kExitAborted : (allOk ? kExitSuccess : kExitJobFailed);
    if (!display.WriteError().empty()) {
        std::fprintf(stderr, "quillon-cli: the log could not be written (%s)\n",
                     display.WriteError().c_str());
        std::fflush(stderr);
        status = status == kExitSuccess ? kExitJobFailed : status;
    }
    return status;
}
