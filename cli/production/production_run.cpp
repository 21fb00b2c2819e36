#include "cli/production/production_run.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "production/port_check.h"
#include "cli/run_setup.h"
#include "helpers/ascii_case.h"
#include "helpers/text_format.h"
#include "platform/executable_path.h"
#include "platform/host_name.h"
#include "platform/terminal_echo.h"

namespace quillon {

namespace {

// How long a port that came back is left alone before its board starts: the system sets up
// the device (its owner and mode) just after it appears.
constexpr auto kSettleTime = std::chrono::milliseconds(1000);
// How often a station waiting for its port looks for it.
constexpr int kReplugPollMs = 200;
// How often a station waiting for the database asks it again for a number.
constexpr auto kNumberRetry = std::chrono::seconds(1);

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

ProductionRun::ProductionRun(const CliOptions& options, RunSetup& setup, bool errIsTerminal,
                             bool sharedTerminal)
    : m_options(options),
      m_program(ExecutablePathToRestart()),
      m_monitorFile(setup.monitorFile),
      m_stationImage(setup.stationImage),
      m_imageSha256(setup.imageSha256),
      m_display(stdout, stderr, options.ports, errIsTerminal, sharedTerminal),
      m_statusLines(errIsTerminal),
      m_silenceLimit(std::chrono::seconds(options.stationSilenceSeconds)) {
    // The record file is the user's --record, or with --database the run's own.
    if (setup.record.IsOpen()) {
        m_record.file = &setup.record;
        m_record.path = setup.recordPath;
        m_record.host = HostName();
        m_record.target = setup.targetName;
        m_record.monitorFile = setup.monitorFile;
        if (!options.initOnly) {
            m_record.image = options.image;
            m_record.imageSha256 = setup.imageSha256;
        }
        m_record.eraseAll = options.eraseAll;
        if (options.serial.patch) {
            m_record.serialAt = options.serial.patch->AddressText();
        }
    }
    m_record.rows = setup.rows.get();
    m_serialSource = setup.serialSource.get();
    m_host = HostName();
    m_runId = setup.runId;
}

std::vector<std::string> ProductionRun::ArgvForBoard(
    const std::string& port, int board, std::optional<std::uint64_t> serialNumber) const {
    // The board's own options, written back as arguments by the table that parses them: the
    // run's job on this port for this one board, the target as the file the run chose, the
    // serial number the run took, and the bytes of the image the run read (the record names
    // the user's file).
    CliOptions station;
    station.stationBoard = board;
    station.ports = {port};
    station.baud = m_options.baud;
    station.monitorFile = m_monitorFile;
    station.eraseAll = m_options.eraseAll;
    station.echoWindow = m_options.echoWindow;
    station.record = m_record.file != nullptr ? m_record.path : std::string();
    if (serialNumber) {
        station.serial.stationNumber = serialNumber;
        station.serial.at = m_options.serial.at;
        station.serial.format = m_options.serial.format;
        station.serial.placeholder = m_options.serial.placeholder;
    }
    station.initOnly = m_options.initOnly;
    if (!m_options.initOnly) {
        station.stationImage = m_stationImage;
        station.stationImageSha256 = m_imageSha256;
        station.image = m_options.image;
    }
    std::vector<std::string> argv = CliArguments(station);
    argv.insert(argv.begin(), m_program);
    return argv;
}

bool ProductionRun::StartBoard(Station& station) {
    std::optional<std::uint64_t> number;
    std::optional<std::string> text;
    if (m_serialSource != nullptr) {
        // Taken and on the disk before the program starts; a stop request ends a wait for the
        // lock.
        const SerialClaim claim{m_host, station.port(), m_runId, station.totals().boards + 1};
        const Result<std::uint64_t> take =
            m_serialSource->Take([this] { return m_waiter->StopRequests() > 0; }, claim);
        if (!take && take.error().kind == ErrorKind::kAborted) {
            station.SetState(StationState::kEnded);
            return false;
        }
        if (!take && m_serialSource->WorthRetrying(take.error())) {
            // The database is away: the board waits for its number, and asks again soon.
            station.WaitForNumber(EscapeForTerminal(WaitingForDatabaseText(take.error()), false),
                                  m_display);
            station.settleUntil = std::chrono::steady_clock::now() + kNumberRetry;
            return false;
        }
        if (!take) {
            m_anyWithoutNumber = true;
            station.EndWithoutNumber(EscapeForTerminal(take.error().text, false), m_display);
            return false;
        }
        number = *take;
        text = m_options.serial.patch->format().RecordText(*take);
    }
    station.StartBoard(
        [this, &station, number](int board) { return ArgvForBoard(station.port(), board, number); },
        m_display, text);
    return true;
}

bool ProductionRun::RefusedAsDuplicate(Station& station) {
    for (const auto& other : m_stations) {
        if (other.get() != &station && !other->refused() &&
            other->state() != StationState::kWaitingForPort &&
            PortsAreOneDevice(other->port(), station.port())) {
            m_anyRefused = true;
            station.Refuse("ports " + EscapeForTerminal(other->port(), false) + " and " +
                               EscapeForTerminal(station.port(), false) + " are the same device: " +
                               EscapeForTerminal(station.port(), false) + " is not used",
                           m_display);
            return true;
        }
    }
    return false;
}

void ProductionRun::AfterBoard(Station& station) {
    if (m_options.repeat != RepeatMode::kOnce) {
        m_display.Line(station.index(), BoardCountLine(station.totals()));
    }
    if (m_abortRequested || m_quit || m_options.repeat == RepeatMode::kOnce) {
        station.SetState(StationState::kEnded);
    } else if (m_options.repeat == RepeatMode::kEnter) {
        station.SetState(StationState::kWaitingForEnter);
    } else {
        station.SetState(StationState::kWaitingForUnplug);
    }
}

bool ProductionRun::AnyIn(StationState state) const {
    return std::any_of(m_stations.begin(), m_stations.end(),
                       [state](const auto& s) { return s->state() == state; });
}

bool ProductionRun::AllEnded() const {
    return std::all_of(m_stations.begin(), m_stations.end(),
                       [](const auto& s) { return s->state() == StationState::kEnded; });
}

void ProductionRun::EndWaiting() {
    for (auto& station : m_stations) {
        if (station->state() == StationState::kWaitingForNumber) {
            // Its board never began: the run did not do all it was asked.
            (m_abortRequested ? m_stoppedWithoutNumber : m_anyWithoutNumber) = true;
        }
        if (station->state() != StationState::kRunning) {
            station->SetState(StationState::kEnded);
        }
    }
}

void ProductionRun::TakeStopRequests() {
    const int stops = m_waiter->StopRequests();
    if (stops > 0 && !m_abortRequested) {
        // Every station ends its job at the next step; none starts another board.
        m_abortRequested = true;
        for (auto& station : m_stations) {
            station->process().RequestAbort();
        }
        EndWaiting();
    }
    if (stops > 1) {
        m_killed = true;  // asked again: at once
    }
    if (m_killed) {
        for (auto& station : m_stations) {
            station->process().Kill();
        }
    }
}

void ProductionRun::TakeOperatorInput() {
    std::vector<std::string> lines;
    const bool more = m_waiter->TakeInput(lines);
    for (const std::string& line : lines) {
        const OperatorLine asked = ReadOperatorLine(line);
        if (asked == OperatorLine::kQuit) {
            m_quit = true;
        } else if (asked == OperatorLine::kUnknown) {
            m_display.RunMessage(m_options.repeat == RepeatMode::kEnter
                                     ? "quillon-cli: Enter starts the waiting stations; q and "
                                       "Enter ends the run"
                                     : "quillon-cli: a station starts its next board when its "
                                       "port comes back; q and Enter ends the run");
        } else if (m_options.repeat == RepeatMode::kEnter && !m_quit && !m_abortRequested) {
            for (auto& station : m_stations) {
                if (station->state() == StationState::kWaitingForEnter && StartBoard(*station) &&
                    station->state() == StationState::kEnded) {
                    AfterBoard(*station);
                }
            }
        }
    }
    if (!more && m_options.repeat == RepeatMode::kEnter && !m_quit) {
        m_quit = true;  // nobody can press Enter any more
    }
    if (m_quit) {
        EndWaiting();
    }
}

void ProductionRun::WatchPorts() {
    const auto now = std::chrono::steady_clock::now();
    for (auto& station : m_stations) {
        switch (station->state()) {
            case StationState::kWaitingForUnplug:
                if (!PortPresent(station->port())) {
                    station->SetState(StationState::kWaitingForPort);
                }
                break;
            case StationState::kWaitingForPort:
                if (PortPresent(station->port()) && !RefusedAsDuplicate(*station)) {
                    station->SetState(StationState::kSettling);
                    station->settleUntil = now + kSettleTime;
                }
                break;
            case StationState::kSettling:
                if (!PortPresent(station->port())) {
                    station->SetState(StationState::kWaitingForPort);
                } else if (now >= station->settleUntil && StartBoard(*station) &&
                           station->state() == StationState::kEnded) {
                    AfterBoard(*station);
                }
                break;
            case StationState::kWaitingForNumber:
                if (now >= station->settleUntil && !m_abortRequested && !m_quit &&
                    StartBoard(*station) && station->state() == StationState::kEnded) {
                    AfterBoard(*station);
                }
                break;
            default:
                break;
        }
        m_display.SetStatus(station->index(), station->StatusText());
    }
}

int ProductionRun::Run(const AbortRequested& abortRequestedBefore, bool stdoutClosed) {
    // Host names of network ports are looked up for it; a stop ends that at once and then
    // starts no board below.
    if (const std::string same = SameDevice(m_options.ports, abortRequestedBefore); !same.empty()) {
        return UsageError(same);
    }
    {
        // The terminal's echo of what the operator types (Enter, q) would move the cursor
        // under the status lines, and their redraw would leave old ones behind.
        std::optional<TerminalEchoOff> quiet;
        if (m_statusLines) {
            quiet.emplace();
        }
        StartStations(abortRequestedBefore);
        while (!AllEnded()) {
            ServeStations();
        }
    }
    int status = Finish();
    if (stdoutClosed) {
        // The stations' log and the summary went nowhere.
        std::fprintf(stderr,
                     "quillon-cli: the log could not be written (standard output was closed)\n");
        status = status == kExitSuccess ? kExitJobFailed : status;
    }
    return status;
}

void ProductionRun::StartStations(const AbortRequested& abortRequestedBefore) {
    for (const std::string& port : m_options.ports) {
        m_stations.push_back(std::make_unique<Station>(m_stations.size(), port, m_record));
    }
    const bool terminalInput = WaitSet::InputIsTerminal();
    // Enter starts the waiting stations; with --repeat=replug a terminal's "q" still ends them.
    m_waiter =
        std::make_unique<WaitSet>(m_options.repeat == RepeatMode::kEnter ||
                                  (m_options.repeat == RepeatMode::kReplug && terminalInput));
    if (m_options.repeat == RepeatMode::kEnter && terminalInput) {
        m_display.RunMessage(
            "quillon-cli: after each board its station waits: Enter starts every waiting "
            "station, q and Enter ends them");
    }

    // A stop asked for before the waiter took the signals over (while the image was checked,
    // say) starts no board at all.
    m_abortRequested = abortRequestedBefore();
    for (auto& station : m_stations) {
        if (m_abortRequested) {
            station->SetState(StationState::kEnded);
        } else if (m_options.repeat == RepeatMode::kReplug && !PortPresent(station->port())) {
            // An empty fixture: its first board has not come yet.
            station->SetState(StationState::kWaitingForPort);
        } else if (StartBoard(*station) && station->state() == StationState::kEnded) {
            AfterBoard(*station);  // could not even start
        }
        m_display.SetStatus(station->index(), station->StatusText());
    }
}

void ProductionRun::ServeStations() {
    std::vector<ChildProcess*> running;
    for (auto& station : m_stations) {
        if (station->process().Running()) {
            running.push_back(&station->process());
        }
    }
    int timeout = m_display.Refresh();
    if (AnyIn(StationState::kWaitingForUnplug) || AnyIn(StationState::kWaitingForPort) ||
        AnyIn(StationState::kSettling) || AnyIn(StationState::kWaitingForNumber)) {
        timeout = timeout < 0 ? kReplugPollMs : std::min(timeout, kReplugPollMs);
    }
    if (const int silence = MsUntilSilence(); silence >= 0) {
        timeout = timeout < 0 ? silence : std::min(timeout, silence);
    }
    m_waiter->Wait(running, timeout);
    TakeStopRequests();
    TakeOperatorInput();
    for (auto& station : m_stations) {
        if (station->process().Running() && station->OnOutput(m_abortRequested, m_display)) {
            AfterBoard(*station);
        }
    }
    EndSilentStations();
    WatchPorts();
}

int ProductionRun::MsUntilSilence() const {
    int earliest = -1;
    const auto now = std::chrono::steady_clock::now();
    for (const auto& station : m_stations) {
        if (!station->process().Running() || station->silenced()) {
            continue;  // no program, or killed already: its end comes as its output's end
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(station->lastReport() +
                                                                       m_silenceLimit - now)
                              .count();
        const int ms = static_cast<int>(std::clamp<long long>(left, 0, 86400000LL)) + 1;
        earliest = earliest < 0 ? ms : std::min(earliest, ms);
    }
    return earliest;
}

void ProductionRun::EndSilentStations() {
    const auto now = std::chrono::steady_clock::now();
    for (auto& station : m_stations) {
        // Its output was read just before: a program that reported nothing for so long has
        // stopped (SIGSTOP) or is stuck in the system, and would hold the run for ever.
        if (station->process().Running() && now - station->lastReport() > m_silenceLimit) {
            station->EndSilent(m_options.stationSilenceSeconds, m_display);
        }
    }
}

int ProductionRun::Finish() {
    std::vector<StationTotals> totals;
    bool anyAborted = false;
    for (const auto& station : m_stations) {
        totals.push_back(station->totals());
        anyAborted = anyAborted || station->totals().aborted > 0;
    }
    std::string summary = "\n";  // one empty line between the log and the table
    summary += SummaryTable(totals, m_options.repeat != RepeatMode::kOnce);
    m_display.Finish(summary);
    // Stopped while every station waited for its next board, nothing was cut short: the
    // boards' results say how the run went.
    const bool anyFailed = std::any_of(m_stations.begin(), m_stations.end(),
                                       [](const auto& s) { return s->totals().failed > 0; });
    // A station that ran out of numbers did not do every board asked of it.
    int status = anyAborted || m_stoppedWithoutNumber ? kExitAborted
                 : anyFailed || m_anyWithoutNumber    ? kExitJobFailed
                 : m_anyRefused                       ? kExitUsage
                                                      : kExitSuccess;
    if (const Status written = m_display.Written(); !written) {
        std::fprintf(stderr, "quillon-cli: the log could not be written (%s)\n",
                     written.error().text.c_str());
        std::fflush(stderr);
        status = status == kExitSuccess ? kExitJobFailed : status;
    }
    return status;
}

}  // namespace quillon
