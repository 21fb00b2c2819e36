#pragma once

#include <mutex>
#include <string>

#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "cli/production/station_display.h"
#include "cli/run_setup.h"
#include "production/production_engine.h"
#include "production/production_events.h"
#include "production/production_setup.h"

namespace quillon {

// A production run on the terminal: the run itself (ProductionEngine, in a thread of its own)
// set up from the command line, its events shown by the station display (the stations' log
// lines and status, the summary table on stdout), and the operator's lines (Enter, q) and the
// stop signals handed to it.
class ProductionRun : private ProductionEvents {
public:
    // `setup`: the target's monitor file checked, the image checked, the record file opened.
    ProductionRun(const CliOptions& options, RunSetup& setup, bool errIsTerminal,
                  bool sharedTerminal);

    // Runs every station to its end and returns the exit status: 130 when a board was aborted,
    // else 1 when any board failed or the log was lost, else 2 when a station was refused (its
    // port turned out to be another station's device), else 0. `abortRequestedBefore` tells
    // whether a stop came before the run took the signals over; `stdoutClosed`: standard output
    // was closed when the program started, so the log and the summary went nowhere.
    [[nodiscard]] int Run(const AbortRequested& abortRequestedBefore, bool stdoutClosed);

private:
    // The run's values, from the command line and what was made ready for it.
    ProductionSetup MakeSetup(RunSetup& setup) const;
    // Serves the operator and the stop signals until the run has ended.
    void Drive(ProductionEngine& engine, const AbortRequested& abortRequestedBefore);
    // The exit status of the run that ended, once its summary is shown.
    [[nodiscard]] int Finish();

    void OnStationStarted(const StationStarted& started) override;
    void OnStationStatus(const StationStatus& status) override;
    void OnStationProgress(const StationProgress& progress) override;
    void OnStationLogLine(const StationLogLine& line) override;
    void OnBoardDone(const BoardDone& done) override;
    void OnTotals(const ProductionTotals& totals) override;
    void OnRunMessage(const std::string& text) override;
    void OnRunEnded(const ProductionEnd& end) override;

    const CliOptions& m_options;
    const ProductionSetup m_setup;
    bool m_statusLines;  // stderr is a terminal: the display shows a status line per station
    // The display is written from the run's thread (its events) and from this one (the
    // redraw of its status lines, the operator's mistakes).
    std::mutex m_displayMutex;
    StationDisplay m_display;
    bool m_ended = false;  // OnRunEnded came; guarded by m_displayMutex
    ProductionEnd m_end;
};

}  // namespace quillon
