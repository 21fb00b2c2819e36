#pragma once

#include <mutex>
#include <string>

#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "cli/production/station_display.h"
#include "cli/run_setup.h"
#include "production/production_engine.h"
#include "production/production_event_forwarder.h"
#include "production/production_events.h"
#include "production/production_preparation.h"
#include "production/production_setup.h"

namespace quillon {

// The production run the command line asks for, with the target `chosen` holds (its monitor
// file and name): the preparation makes it ready.
ProductionRequest ProductionRequestOf(const CliOptions& options, const RunSetup& chosen);

// A production run on the terminal: the run itself (ProductionEngine, in a thread of its own)
// set up from the command line, its events shown by the station display (the stations' log
// lines and status, the summary table on stdout), and the operator's lines (Enter, q) and the
// stop signals handed to it.
class ProductionRun {
public:
    // `setup`: as PrepareProduction made it ready; what it points to outlives the run.
    ProductionRun(const CliOptions& options, const ProductionSetup& setup, bool errIsTerminal,
                  bool sharedTerminal);

    // Runs every station to its end and returns the exit status: 130 when a board was aborted,
    // else 1 when any board failed or the log was lost, else 2 when a station was refused (its
    // port turned out to be another station's device), else 0. `abortRequestedBefore` tells
    // whether a stop came before the run took the signals over; `stdoutClosed`: standard output
    // was closed when the program started, so the log and the summary went nowhere.
    [[nodiscard]] int Run(const AbortRequested& abortRequestedBefore, bool stdoutClosed);

private:
    // Serves the operator and the stop signals until the run has ended.
    void Drive(ProductionEngine& engine, const AbortRequested& abortRequestedBefore);
    // The exit status of the run that ended, once its summary is shown.
    [[nodiscard]] int Finish();

    // The run's events, in its thread (through m_events).
    template <typename Handler>
    friend void HandProductionEvent(const ProductionEvent& event, Handler& handler);
    void OnStationStarted(const StationStarted& started);
    void OnStationStatus(const StationStatus& status);
    void OnStationProgress(const StationProgress& progress);
    void OnStationLogLine(const StationLogLine& line);
    void OnBoardDone(const BoardDone& done);
    void OnTotals(const ProductionTotals& totals);
    void OnRunMessage(const std::string& text);
    void OnRunEnded(const ProductionEnd& end);

    const CliOptions& m_options;
    const ProductionSetup m_setup;
    bool m_statusLines;  // stderr is a terminal: the display shows a status line per station
    // The display is written from the run's thread (its events) and from this one (the
    // redraw of its status lines, the operator's mistakes).
    std::mutex m_displayMutex;
    StationDisplay m_display;
    bool m_ended = false;  // OnRunEnded came; guarded by m_displayMutex
    ProductionEnd m_end;
    ProductionEventForwarder m_events{
        [this](const ProductionEvent& event) { HandProductionEvent(event, *this); }};
};

}  // namespace quillon
