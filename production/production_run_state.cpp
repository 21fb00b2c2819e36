#include "production/production_run_state.h"

#include <algorithm>

#include "cli/cli_options.h"
#include "database/database_counter.h"
#include "helpers/text_format.h"
#include "production/port_check.h"

namespace quillon {

namespace {

// How long a port that came back is left alone before its board starts: the system sets up
// the device (its owner and mode) just after it appears.
constexpr std::uint64_t kSettleMs = 1000;
// How often a station waiting for its port looks for it.
constexpr int kReplugPollMs = 200;
// How often a station waiting for the database asks it again for a number.
constexpr std::uint64_t kNumberRetryMs = 1000;

}  // namespace

ProductionRunState::ProductionRunState(ProductionSetup setup, ProductionEvents& events,
                                       SystemEnv& env)
    : m_setup(std::move(setup)),
      m_events(events),
      m_clock(env.clock()),
      m_silenceLimitMs(std::uint64_t{m_setup.stationSilenceSeconds} * 1000) {
    if (m_setup.record) {
        m_record.file = m_setup.record.get();
        m_record.path = m_setup.recordPath;
        m_record.host = m_setup.host;
        m_record.target = m_setup.targetName;
        m_record.monitorFile = m_setup.monitorFile;
        if (m_setup.image) {
            m_record.image = m_setup.image;
            m_record.imageSha256 = m_setup.imageSha256;
        }
        m_record.eraseAll = m_setup.eraseAll;
        if (m_setup.serialPatch) {
            m_record.serialAt = m_setup.serialPatch->AddressText();
        }
    }
    m_record.rows = m_setup.rows.get();
    m_record.stopFromNow = [this] {
        return std::function<bool()>(
            [this, before = m_aborts.load()] { return m_aborts.load() > before; });
    };
}

void ProductionRunState::NextBoard() {
    {
        const std::lock_guard<std::mutex> lock(m_commandsMutex);
        m_commands.push_back(true);
    }
    m_waiter.Wake();
}

void ProductionRunState::Stop() {
    {
        const std::lock_guard<std::mutex> lock(m_commandsMutex);
        m_commands.push_back(false);
    }
    m_waiter.Wake();
}

void ProductionRunState::Abort() {
    ++m_aborts;
    m_waiter.Wake();
}

ProductionTotals ProductionRunState::Totals() const {
    const std::lock_guard<std::mutex> lock(m_totalsMutex);
    ProductionTotals totals = m_totals;
    if (m_started) {
        totals.elapsedSeconds = static_cast<double>(m_clock.NowMs() - m_startMs) / 1000.0;
    }
    const int done = totals.ok + totals.failed + totals.aborted;
    totals.boardsPerHour =
        done > 0 && totals.elapsedSeconds > 0 ? done * 3600.0 / totals.elapsedSeconds : 0.0;
    return totals;
}

std::vector<std::string> ProductionRunState::ArgvForBoard(
    const std::string& port, int board, std::optional<std::uint64_t> serialNumber) const {
    // The board's own options, written back as arguments by the table that parses them: the
    // run's job on this port for this one board, the target as the file the run chose, the
    // serial number the run took, and the bytes of the image the run read (the record names
    // the user's file).
    CliOptions station;
    station.stationBoard = board;
    station.ports = {port};
    station.baud = m_setup.baud;
    station.monitorFile = m_setup.monitorFile;
    station.eraseAll = m_setup.eraseAll;
    station.echoWindow = m_setup.echoWindow;
    station.record = m_record.file != nullptr ? m_record.path : std::string();
    if (serialNumber) {
        station.serial.stationNumber = serialNumber;
        station.serial.at = m_setup.serialAt;
        station.serial.format = m_setup.serialFormat;
        station.serial.placeholder = m_setup.serialPlaceholder;
    }
    station.initOnly = !m_setup.image;
    if (m_setup.image) {
        station.stationImage = m_setup.stationImage;
        station.stationImageSha256 = m_setup.imageSha256;
        station.image = *m_setup.image;
    }
    std::vector<std::string> argv = CliArguments(station);
    argv.insert(argv.begin(), m_setup.stationProgram);
    return argv;
}

bool ProductionRunState::StartBoard(Station& station) {
    std::optional<std::uint64_t> number;
    std::optional<std::string> text;
    if (m_setup.serialSource) {
        // Taken and on the disk before the program starts; an abort ends a wait for the lock.
        const SerialClaim claim{m_setup.host, station.port(), m_setup.runId,
                                station.totals().boards + 1};
        const Result<std::uint64_t> take =
            m_setup.serialSource->Take([this] { return m_aborts.load() > 0; }, claim);
        if (!take && take.error().kind == ErrorKind::kAborted) {
            // Its board never began: the run did not do all it was asked.
            m_stoppedWithoutNumber = true;
            station.SetState(StationState::kEnded);
            return false;
        }
        if (!take && m_setup.serialSource->WorthRetrying(take.error())) {
            // The database is away: the board waits for its number, and asks again soon.
            station.WaitForNumber(EscapeForTerminal(WaitingForDatabaseText(take.error()), false));
            station.settleUntilMs = m_clock.NowMs() + kNumberRetryMs;
            return false;
        }
        if (!take) {
            m_anyWithoutNumber = true;
            station.EndWithoutNumber(EscapeForTerminal(take.error().text, false));
            return false;
        }
        number = *take;
        text = m_setup.serialPatch ? m_setup.serialPatch->format().RecordText(*take)
                                   : std::to_string(*take);
    }
    station.StartBoard(
        [this, &station, number](int board) { return ArgvForBoard(station.port(), board, number); },
        text);
    return true;
}

bool ProductionRunState::RefusedAsDuplicate(Station& station) {
    for (const auto& other : m_stations) {
        if (other.get() != &station && !other->refused() &&
            other->state() != StationState::kWaitingForPort &&
            PortsAreOneDevice(other->port(), station.port())) {
            m_anyRefused = true;
            station.Refuse("ports " + EscapeForTerminal(other->port(), false) + " and " +
                           EscapeForTerminal(station.port(), false) + " are the same device: " +
                           EscapeForTerminal(station.port(), false) + " is not used");
            return true;
        }
    }
    return false;
}

void ProductionRunState::AfterBoard(Station& station) {
    ReportBoard(station);
    if (m_abortRequested || m_quit || m_setup.repeat == RepeatMode::kOnce) {
        station.SetState(StationState::kEnded);
    } else if (m_setup.repeat == RepeatMode::kEnter) {
        station.SetState(StationState::kWaitingForEnter);
    } else {
        station.SetState(StationState::kWaitingForUnplug);
    }
}

void ProductionRunState::ReportBoard(const Station& station) {
    m_events.OnBoardDone(station.LastBoard());
    {
        const std::lock_guard<std::mutex> lock(m_totalsMutex);
        m_totals.stations[station.index()] = station.totals();
        m_totals.boards = m_totals.ok = m_totals.failed = m_totals.aborted = 0;
        for (const StationTotals& each : m_totals.stations) {
            m_totals.boards += each.boards;
            m_totals.ok += each.ok;
            m_totals.failed += each.failed;
            m_totals.aborted += each.aborted;
        }
    }
    m_events.OnTotals(Totals());
}

bool ProductionRunState::AnyIn(StationState state) const {
    return std::any_of(m_stations.begin(), m_stations.end(),
                       [state](const auto& s) { return s->state() == state; });
}

bool ProductionRunState::AllEnded() const {
    return std::all_of(m_stations.begin(), m_stations.end(),
                       [](const auto& s) { return s->state() == StationState::kEnded; });
}

void ProductionRunState::EndWaiting() {
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

void ProductionRunState::TakeStopRequests() {
    const int stops = m_aborts.load();
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

void ProductionRunState::TakeOperatorCommands() {
    std::vector<bool> commands;
    {
        const std::lock_guard<std::mutex> lock(m_commandsMutex);
        commands.swap(m_commands);
    }
    for (const bool next : commands) {
        if (!next) {
            m_quit = true;
        } else if (m_setup.repeat == RepeatMode::kEnter && !m_quit && !m_abortRequested) {
            for (auto& station : m_stations) {
                if (station->state() == StationState::kWaitingForEnter && StartBoard(*station) &&
                    station->state() == StationState::kEnded) {
                    AfterBoard(*station);
                }
            }
        }
    }
    if (m_quit) {
        EndWaiting();
    }
}

void ProductionRunState::WatchPorts() {
    const std::uint64_t now = m_clock.NowMs();
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
                    station->settleUntilMs = now + kSettleMs;
                }
                break;
            case StationState::kSettling:
                if (!PortPresent(station->port())) {
                    station->SetState(StationState::kWaitingForPort);
                } else if (now >= station->settleUntilMs && StartBoard(*station) &&
                           station->state() == StationState::kEnded) {
                    AfterBoard(*station);
                }
                break;
            case StationState::kWaitingForNumber:
                if (now >= station->settleUntilMs && !m_abortRequested && !m_quit &&
                    StartBoard(*station) && station->state() == StationState::kEnded) {
                    AfterBoard(*station);
                }
                break;
            default:
                break;
        }
    }
}

void ProductionRunState::ReportStatus() {
    for (auto& station : m_stations) {
        station->ReportStatus();
    }
    const std::lock_guard<std::mutex> lock(m_totalsMutex);
    for (const auto& station : m_stations) {
        m_totals.stations[station->index()] = station->totals();
    }
}

void ProductionRunState::Run() {
    {
        const std::lock_guard<std::mutex> lock(m_totalsMutex);
        m_startMs = m_clock.NowMs();
        m_started = true;
        for (const std::string& port : m_setup.stations) {
            StationTotals totals;
            totals.port = port;
            m_totals.stations.push_back(std::move(totals));
        }
    }
    // Host names of network ports are looked up for it; an abort ends that at once and then
    // starts no board below.
    std::string same = SameDevice(m_setup.stations, [this] { return m_aborts.load() > 0; });
    if (same.empty()) {
        StartStations();
        while (!AllEnded()) {
            ServeStations();
        }
    }
    Finish(std::move(same));
}

void ProductionRunState::StartStations() {
    for (const std::string& port : m_setup.stations) {
        m_stations.push_back(
            std::make_unique<Station>(m_stations.size(), port, m_record, m_events, m_clock));
    }
    if (m_setup.repeat == RepeatMode::kEnter && m_setup.operatorAtTerminal) {
        m_events.OnRunMessage(
            "quillon-cli: after each board its station waits: Enter starts every waiting "
            "station, q and Enter ends them");
    }

    // An abort that came before the run began starts no board at all.
    m_abortRequested = m_aborts.load() > 0;
    for (auto& station : m_stations) {
        if (m_abortRequested) {
            station->SetState(StationState::kEnded);
        } else if (m_setup.repeat == RepeatMode::kReplug && !PortPresent(station->port())) {
            // An empty fixture: its first board has not come yet.
            station->SetState(StationState::kWaitingForPort);
        } else if (StartBoard(*station) && station->state() == StationState::kEnded) {
            AfterBoard(*station);  // could not even start
        }
        station->ReportStatus();
    }
}

void ProductionRunState::ServeStations() {
    std::vector<ChildProcess*> running;
    for (auto& station : m_stations) {
        if (station->process().Running()) {
            running.push_back(&station->process());
        }
    }
    int timeout = -1;
    if (AnyIn(StationState::kWaitingForUnplug) || AnyIn(StationState::kWaitingForPort) ||
        AnyIn(StationState::kSettling) || AnyIn(StationState::kWaitingForNumber)) {
        timeout = kReplugPollMs;
    }
    if (const int silence = MsUntilSilence(); silence >= 0) {
        timeout = timeout < 0 ? silence : std::min(timeout, silence);
    }
    m_waiter.Wait(running, timeout);
    TakeStopRequests();
    TakeOperatorCommands();
    for (auto& station : m_stations) {
        if (station->process().Running() && station->OnOutput(m_abortRequested)) {
            AfterBoard(*station);
        }
    }
    EndSilentStations();
    WatchPorts();
    ReportStatus();
}

int ProductionRunState::MsUntilSilence() const {
    int earliest = -1;
    const std::uint64_t now = m_clock.NowMs();
    for (const auto& station : m_stations) {
        if (!station->process().Running() || station->silenced()) {
            continue;  // no program, or killed already: its end comes as its output's end
        }
        const std::uint64_t due = station->lastReportMs() + m_silenceLimitMs;
        const std::uint64_t left = due > now ? std::min<std::uint64_t>(due - now, 86400000) : 0;
        const int ms = static_cast<int>(left) + 1;
        earliest = earliest < 0 ? ms : std::min(earliest, ms);
    }
    return earliest;
}

void ProductionRunState::EndSilentStations() {
    const std::uint64_t now = m_clock.NowMs();
    for (auto& station : m_stations) {
        // Its output was read just before: a program that reported nothing for so long has
        // stopped (SIGSTOP) or is stuck in the system, and would hold the run for ever.
        if (station->process().Running() && now > station->lastReportMs() + m_silenceLimitMs) {
            station->EndSilent(m_setup.stationSilenceSeconds);
        }
    }
}

void ProductionRunState::Finish(std::string sameDevice) {
    ProductionEnd end;
    end.sameDevice = std::move(sameDevice);
    for (const auto& station : m_stations) {
        end.anyAborted = end.anyAborted || station->totals().aborted > 0;
        end.anyFailed = end.anyFailed || station->totals().failed > 0;
    }
    end.anyRefused = m_anyRefused;
    end.anyWithoutNumber = m_anyWithoutNumber;
    end.stoppedWithoutNumber = m_stoppedWithoutNumber;
    ReportStatus();
    end.totals = Totals();
    m_events.OnRunEnded(end);
}

}  // namespace quillon
