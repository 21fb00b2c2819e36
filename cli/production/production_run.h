#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_runner.h"
#include "cli/production/station.h"
#include "cli/run_setup.h"
#include "platform/wait_set.h"

namespace quillon {

// A production run: one station per port, each board worked on by a program of its own (this
// program again, for one board of one port), all started together; board after board with
// --repeat. Shows the stations' log lines and status, ends with the summary table on stdout.
// With serial numbers the run takes each board's number (under the counter's or list's lock)
// before the board's program starts and hands it over, so that a number is never taken
// without a record line that names it: the program's own, or the run's when it died.
class ProductionRun {
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
    std::vector<std::string> ArgvForBoard(const std::string& port, int board,
                                          std::optional<std::uint64_t> serialNumber) const;
    // Takes the board's serial number, if the run gives them, and starts its program. False
    // when no board began: no number could be taken (the station has ended).
    [[nodiscard]] bool StartBoard(Station& station);
    // Makes the stations and the waiter, and starts each station's first board (or its wait
    // for one).
    void StartStations(const AbortRequested& abortRequestedBefore);
    // Waits for the stations' programs, the operator, a stop or a port, and serves what came.
    void ServeStations();
    // A port that has just appeared may be a name of a device another station already works
    // with (two names of one adapter that came later): that station keeps it, this one ends.
    [[nodiscard]] bool RefusedAsDuplicate(Station& station);
    // What a station does after its board.
    void AfterBoard(Station& station);
    bool AnyIn(StationState state) const;
    bool AllEnded() const;
    // Ends every station that is not running a board.
    void EndWaiting();
    // The stop requests that came during the last wait.
    void TakeStopRequests();
    // The operator's lines: Enter starts the waiting stations, q ends them.
    void TakeOperatorInput();
    // Stations waiting for their port to go, to come back, or to settle.
    void WatchPorts();
    // Milliseconds until the first running station has been silent for too long; -1: none
    // runs.
    int MsUntilSilence() const;
    // Ends the programs that have reported nothing for too long.
    void EndSilentStations();
    [[nodiscard]] int Finish();

    const CliOptions& m_options;
    const std::string m_program;
    const std::string m_monitorFile;
    const std::string m_stationImage;  // the run's copy of the image file, and its digest
    const std::string m_imageSha256;
    RecordSetup m_record;
    StationDisplay m_display;
    bool m_statusLines;  // stderr is a terminal: the display shows a status line per station
    std::chrono::steady_clock::duration m_silenceLimit;
    std::vector<std::unique_ptr<Station>> m_stations;
    std::unique_ptr<WaitSet> m_waiter;
    bool m_abortRequested = false;
    bool m_killed = false;
    bool m_quit = false;  // no further boards: the input said q or ended
    bool m_anyRefused = false;
    SerialSource* m_serialSource = nullptr;  // none: no serial numbers
    std::string m_host;                      // this PC, as the numbers' takers name it
    std::string m_runId;                     // with --database: this run's id
    bool m_anyWithoutNumber = false;         // a station ended for lack of a number
    bool m_stoppedWithoutNumber = false;     // a stop ended a station waiting for its number
};

}  // namespace quillon
