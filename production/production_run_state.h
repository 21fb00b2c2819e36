#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/station_wait.h"
#include "platform/system_env.h"
#include "production/production_events.h"
#include "production/production_setup.h"
#include "production/station.h"

namespace quillon {

// The work of a production run, done by the thread that calls Run: its stations, their
// programs and waits, the serial numbers, the record. The operator's commands come from other
// threads through NextBoard, Stop and Abort, each of which ends the run's wait at once.
class ProductionRunState {
public:
    ProductionRunState(ProductionSetup setup, ProductionEvents& events, SystemEnv& env);

    // Runs every station to its end; OnRunEnded is its last event.
    void Run();

    void NextBoard();
    void Stop();
    void Abort();
    ProductionTotals Totals() const;

private:
    std::vector<std::string> ArgvForBoard(const std::string& port, int board,
                                          std::optional<std::uint64_t> serialNumber) const;
    // Takes the board's serial number, if the run gives them, and starts its program. False
    // when no board began: no number could be taken (the station has ended or waits for one).
    [[nodiscard]] bool StartBoard(Station& station);
    // Makes the stations and starts each station's first board (or its wait for one).
    void StartStations();
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
    // The operator's Enters and q that came during the last wait.
    void TakeOperatorCommands();
    // Stations waiting for their port to go, to come back, or to settle.
    void WatchPorts();
    // Milliseconds until the first running station has been silent for too long; -1: none
    // runs.
    int MsUntilSilence() const;
    // Ends the programs that have reported nothing for too long.
    void EndSilentStations();
    void ReportStatus();
    // Counts the board that `station` has just ended and tells it.
    void ReportBoard(const Station& station);
    void Finish(std::string sameDevice);

    const ProductionSetup m_setup;
    ProductionEvents& m_events;
    Clock& m_clock;
    RecordSetup m_record;
    std::uint64_t m_silenceLimitMs;
    std::vector<std::unique_ptr<Station>> m_stations;
    StationWait m_waiter;

    // The operator's Enter (true) and q (false), in the order they came, from any thread.
    std::mutex m_commandsMutex;
    std::vector<bool> m_commands;
    // Abort requests so far: read by every wait of the run (serial numbers, the database).
    std::atomic<int> m_aborts{0};

    bool m_abortRequested = false;
    bool m_killed = false;
    bool m_quit = false;  // no further boards: the operator asked to stop
    bool m_anyRefused = false;
    bool m_anyWithoutNumber = false;      // a station ended for lack of a number
    bool m_stoppedWithoutNumber = false;  // a stop ended a station waiting for its number

    // Guards what Totals() reads from other threads.
    mutable std::mutex m_totalsMutex;
    ProductionTotals m_totals;
    bool m_started = false;
    std::uint64_t m_startMs = 0;  // when Run began, by the run's clock
};

}  // namespace quillon
