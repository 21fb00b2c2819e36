#include "cli/production_run.h"

#include <algorithm>
#include <memory>

#include "cli/cli_runner.h"
#include "cli/run_waiter.h"
#include "cli/station.h"
#include "helpers/ascii_case.h"
#include "helpers/text_format.h"

namespace {

// How long a port that came back is left alone before its board starts: the system sets up
// the device (its owner and mode) just after it appears.
constexpr auto kSettleTime = std::chrono::milliseconds(1000);
// How often a station waiting for its port looks for it.
constexpr int kReplugPollMs = 200;

// What the operator's line asks for.
enum class OperatorLine { kNextBoards, kQuit, kUnknown };

OperatorLine ReadOperatorLine(std::string line) {
    line.erase(std::remove_if(line.begin(), line.end(),
                              [](char c) { return c == ' ' || c == '\t' || c == '\r'; }),
               line.end());
    if (line.empty()) {
        return OperatorLine::kNextBoards;
    }
    for (const char* quit : {"q", "quit", "exit"}) {
        if (EqualIgnoringCase(line, quit)) {
            return OperatorLine::kQuit;
        }
    }
    return OperatorLine::kUnknown;
}

}  // namespace

int RunProduction(const CliOptions& options, const std::string& program,
                  const std::string& monitorFile, const RecordSetup& record,
                  const std::function<bool()>& abortRequestedBefore, bool errIsTerminal,
                  bool sharedTerminal) {
    if (const std::string same = SameDevice(options.ports); !same.empty()) {
        std::fprintf(stderr, "quillon-cli: %s\nTry 'quillon-cli --help' for more information.\n",
                     same.c_str());
        return kExitUsage;
    }
    StationDisplay display(stdout, stderr, options.ports, errIsTerminal, sharedTerminal);
    std::vector<std::unique_ptr<Station>> stations;
    for (const std::string& port : options.ports) {
        stations.push_back(std::make_unique<Station>(stations.size(), port, record));
    }
    const auto argvForBoard = [&](const std::string& port) {
        return [&options, &program, &monitorFile, port](int board) {
            std::vector<std::string> argv = {
                program,  "--station-board",          std::to_string(board), "--port",   port,
                "--baud", BaudRateText(options.baud), "--monitor",           monitorFile};
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

    const bool terminalInput = RunWaiter::InputIsTerminal();
    // Enter starts the waiting stations; with --repeat=replug a terminal's "q" still ends them.
    RunWaiter waiter(options.repeat == RepeatMode::kEnter ||
                     (options.repeat == RepeatMode::kReplug && terminalInput));
    if (options.repeat == RepeatMode::kEnter && terminalInput) {
        display.RunMessage(
            "quillon-cli: after each board its station waits: Enter starts every waiting "
            "station, q and Enter ends them");
    }

    // A stop asked for before the waiter took the signals over (while the image was checked,
    // say) starts no board at all.
    bool abortRequested = abortRequestedBefore();
    bool killed = false;
    bool quit = false;  // no further boards: the input said q or ended
    bool anyRefused = false;
    for (auto& station : stations) {
        if (abortRequested) {
            station->SetState(StationState::kEnded);
        } else if (options.repeat == RepeatMode::kReplug && !PortPresent(station->port())) {
            // An empty fixture: its first board has not come yet.
            station->SetState(StationState::kWaitingForPort);
        } else {
            station->StartBoard(argvForBoard(station->port()), display);
        }
    }
    // A port that has just appeared may be a name of a device another station already works
    // with (two names of one adapter that came later): that station keeps it, this one ends.
    const auto refusedAsDuplicate = [&](Station& station) {
        for (const auto& other : stations) {
            if (other.get() != &station && !other->refused() &&
                other->state() != StationState::kWaitingForPort &&
                PortsAreOneDevice(other->port(), station.port())) {
                anyRefused = true;
                station.Refuse("ports " + EscapeForTerminal(other->port(), false) + " and " +
                                   EscapeForTerminal(station.port(), false) +
                                   " are the same device: " +
                                   EscapeForTerminal(station.port(), false) + " is not used",
                               display);
                return true;
            }
        }
        return false;
    };

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
        if (!station->process().Running() && station->state() == StationState::kEnded &&
            station->totals().boards > 0) {
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
        std::vector<StationProcess*> running;
        for (auto& station : stations) {
            if (station->process().Running()) {
                running.push_back(&station->process());
            }
        }
        int timeout = display.Refresh();
        if (anyIn(StationState::kWaitingForUnplug) || anyIn(StationState::kWaitingForPort) ||
            anyIn(StationState::kSettling)) {
            timeout = timeout < 0 ? kReplugPollMs : std::min(timeout, kReplugPollMs);
        }
        waiter.Wait(running, timeout);

        const int stops = waiter.StopRequests();
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

        {
            std::vector<std::string> lines;
            const bool more = waiter.TakeInput(lines);
            for (const std::string& line : lines) {
                const OperatorLine asked = ReadOperatorLine(line);
                if (asked == OperatorLine::kQuit) {
                    quit = true;
                } else if (asked == OperatorLine::kUnknown) {
                    display.RunMessage(options.repeat == RepeatMode::kEnter
                                           ? "quillon-cli: Enter starts the waiting stations; q "
                                             "and Enter ends the run"
                                           : "quillon-cli: a station starts its next board when "
                                             "its port comes back; q and Enter ends the run");
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
            if (!more && options.repeat == RepeatMode::kEnter && !quit) {
                quit = true;  // nobody can press Enter any more
            }
            if (quit) {
                endWaiting();
            }
        }

        for (auto& station : stations) {
            if (station->process().Running() && station->OnOutput(abortRequested, display)) {
                afterBoard(*station);
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
                    if (PortPresent(station->port()) && !refusedAsDuplicate(*station)) {
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
    bool anyAborted = false;
    for (const auto& station : stations) {
        totals.push_back(station->totals());
        anyAborted = anyAborted || station->totals().aborted > 0;
    }
    std::string summary = "\n";  // one empty line between the log and the table
    summary += SummaryTable(totals, options.repeat != RepeatMode::kOnce);
    display.Finish(summary);
    // Stopped while every station waited for its next board, nothing was cut short: the
    // boards' results say how the run went.
    const bool anyFailed = std::any_of(stations.begin(), stations.end(),
                                       [](const auto& s) { return s->totals().failed > 0; });
    int status = anyAborted   ? kExitAborted
                 : anyFailed  ? kExitJobFailed
                 : anyRefused ? kExitUsage
                              : kExitSuccess;
    if (!display.WriteError().empty()) {
        std::fprintf(stderr, "quillon-cli: the log could not be written (%s)\n",
                     display.WriteError().c_str());
        std::fflush(stderr);
        status = status == kExitSuccess ? kExitJobFailed : status;
    }
    return status;
}
