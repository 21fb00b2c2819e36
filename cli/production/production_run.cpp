#include "cli/production/production_run.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

#include "helpers/ascii_case.h"
#include "platform/executable_path.h"
#include "platform/host_name.h"
#include "platform/terminal_echo.h"
#include "platform/wait_set.h"

namespace quillon {

namespace {

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

ProductionRequest ProductionRequestOf(const CliOptions& options, const RunSetup& chosen) {
    ProductionRequest request;
    ProductionSetup& values = request.values;
    values.stationProgram = ExecutablePathToRestart();
    values.targetName = chosen.targetName;
    values.monitorFile = chosen.monitorFile;
    if (!options.initOnly) {
        values.image = options.image;
    }
    values.baud = options.baud;
    values.echoWindow = options.echoWindow;
    values.eraseAll = options.eraseAll;
    values.stations = options.ports;
    values.repeat = options.repeat;
    values.stationSilenceSeconds = options.stationSilenceSeconds;
    values.host = HostName();
    values.serialPatch = options.serial.patch;
    values.serialAt = options.serial.at;
    values.serialFormat = options.serial.format;
    values.serialPlaceholder = options.serial.placeholder;
    values.operatorAtTerminal = WaitSet::InputIsTerminal();
    request.record = options.record;
    request.serial = {options.serial.counter, options.serial.list, options.serial.dbCounter,
                      options.serial.start};
    request.database = options.database;
    return request;
}

ProductionRun::ProductionRun(const CliOptions& options, const ProductionSetup& setup,
                             bool errIsTerminal, bool sharedTerminal)
    : m_options(options),
      m_setup(setup),
      m_statusLines(errIsTerminal),
      m_display(stdout, stderr, options.ports, errIsTerminal, sharedTerminal) {}

int ProductionRun::Run(const AbortRequested& abortRequestedBefore, bool stdoutClosed) {
    ProductionEngine engine(m_setup, m_events, SystemEnv::Default());
    {
        // The terminal's echo of what the operator types (Enter, q) would move the cursor
        // under the status lines, and their redraw would leave old ones behind.
        std::optional<TerminalEchoOff> quiet;
        if (m_statusLines) {
            quiet.emplace();
        }
        Drive(engine, abortRequestedBefore);
        engine.Wait();
    }
    if (!m_end.sameDevice.empty()) {
        return UsageError(m_end.sameDevice);
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

void ProductionRun::Drive(ProductionEngine& engine, const AbortRequested& abortRequestedBefore) {
    // Enter starts the waiting stations; with --repeat=replug a terminal's "q" still ends them.
    bool watchInput = m_options.repeat == RepeatMode::kEnter ||
                      (m_options.repeat == RepeatMode::kReplug && WaitSet::InputIsTerminal());
    WaitSet waiter(watchInput);
    // A stop asked for before the waiter took the signals over (while the image was checked,
    // say) starts no board at all.
    if (abortRequestedBefore()) {
        engine.Abort();
    }
    engine.Start();
    int stopsHandedOver = 0;
    while (true) {
        int timeout = -1;
        {
            const std::lock_guard<std::mutex> lock(m_displayMutex);
            if (m_ended) {
                break;
            }
            timeout = m_display.Refresh();
        }
        waiter.Wait({}, timeout);
        // Each stop request reaches the run: the first asks every board to stop, the second
        // kills their programs.
        for (const int stops = waiter.StopRequests(); stopsHandedOver < stops; ++stopsHandedOver) {
            engine.Abort();
        }
        if (!watchInput) {
            continue;
        }
        std::vector<std::string> lines;
        watchInput = waiter.TakeInput(lines);
        for (const std::string& line : lines) {
            const OperatorLine asked = ReadOperatorLine(line);
            if (asked == OperatorLine::kQuit) {
                engine.Stop();
            } else if (asked == OperatorLine::kUnknown) {
                const std::lock_guard<std::mutex> lock(m_displayMutex);
                m_display.RunMessage(m_options.repeat == RepeatMode::kEnter
                                         ? "quillon-cli: Enter starts the waiting stations; q and "
                                           "Enter ends the run"
                                         : "quillon-cli: a station starts its next board when its "
                                           "port comes back; q and Enter ends the run");
            } else {
                engine.NextBoard();
            }
        }
        if (!watchInput && m_options.repeat == RepeatMode::kEnter) {
            engine.Stop();  // nobody can press Enter any more
        }
    }
}

int ProductionRun::Finish() {
    std::string summary = "\n";  // one empty line between the log and the table
    summary += SummaryTable(m_end.totals.stations, m_options.repeat != RepeatMode::kOnce);
    m_display.Finish(summary);
    // Stopped while every station waited for its next board, nothing was cut short: the
    // boards' results say how the run went. A station that ran out of numbers did not do
    // every board asked of it.
    int status = m_end.anyAborted || m_end.stoppedWithoutNumber ? kExitAborted
                 : m_end.anyFailed || m_end.anyWithoutNumber    ? kExitJobFailed
                 : m_end.anyRefused                             ? kExitUsage
                                                                : kExitSuccess;
    if (const Status written = m_display.Written(); !written) {
        std::fprintf(stderr, "quillon-cli: the log could not be written (%s)\n",
                     written.error().text.c_str());
        std::fflush(stderr);
        status = status == kExitSuccess ? kExitJobFailed : status;
    }
    return status;
}

void ProductionRun::OnStationStarted(const StationStarted&) {}

void ProductionRun::OnStationStatus(const StationStatus& status) {
    {
        const std::lock_guard<std::mutex> lock(m_displayMutex);
        m_display.SetStatus(status.station, status.text);
    }
    WaitSet::Interrupt();  // its redraw is due
}

void ProductionRun::OnStationProgress(const StationProgress&) {}  // in its status text

void ProductionRun::OnStationLogLine(const StationLogLine& line) {
    const std::lock_guard<std::mutex> lock(m_displayMutex);
    if (line.message) {
        m_display.Message(line.station, line.text);
    } else {
        m_display.Line(line.station, line.text);
    }
}

void ProductionRun::OnBoardDone(const BoardDone& done) {
    if (m_options.repeat != RepeatMode::kOnce) {
        const std::lock_guard<std::mutex> lock(m_displayMutex);
        m_display.Line(done.station, BoardCountLine(done.totals));
    }
}

void ProductionRun::OnTotals(const ProductionTotals&) {}  // the summary table ends the run

void ProductionRun::OnRunMessage(const std::string& text) {
    const std::lock_guard<std::mutex> lock(m_displayMutex);
    m_display.RunMessage(text);
}

void ProductionRun::OnRunEnded(const ProductionEnd& end) {
    // Woken under the lock: the wait set, which goes once the end is seen, is still there.
    const std::lock_guard<std::mutex> lock(m_displayMutex);
    m_end = end;
    m_ended = true;
    WaitSet::Interrupt();
}

}  // namespace quillon
