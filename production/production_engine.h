#pragma once

#include <chrono>
#include <memory>

#include "platform/system_env.h"
#include "production/production_events.h"
#include "production/production_setup.h"

namespace quillon {

// A production run as a library: one station per port, each board worked on by a program of
// its own (ProductionSetup::stationProgram, for one board of one port), all started together,
// board after board as the repeat mode says. The run takes each board's serial number before
// its program starts, and every board it starts ends with exactly one record line: its
// program's, or the run's own when the program could not write one (it died, it was killed).
//
// The run works in a thread of its own, from Start until every station has ended; the calls
// below return at once and may come from any thread (a GUI thread, a signal watcher). Events
// go to `events` from the run's thread. Station times and rates read the clock of `env`.
class ProductionEngine {
public:
    // `events` and `env` must outlive the engine.
    ProductionEngine(ProductionSetup setup, ProductionEvents& events, SystemEnv& env);
    // Aborts a run still going and waits for its end (every board started gets its line).
    ~ProductionEngine();
    ProductionEngine(const ProductionEngine&) = delete;
    ProductionEngine& operator=(const ProductionEngine&) = delete;

    // Starts the run's thread: the stations' first boards (or, with replug, their waits for
    // a board). Once only.
    void Start();

    // The operator's Enter: every station waiting for Enter starts its next board.
    void NextBoard();
    // The operator's q: no further boards; the boards in work end as they would.
    void Stop();
    // A stop request: every running board is asked to stop at its next step and no station
    // starts another; a second Abort kills the stations' programs at once. Reaches every wait
    // of the run (a program's output, a port, a serial number's lock, the database).
    void Abort();

    // True once the run has ended (OnRunEnded was called).
    bool Finished() const;
    // Waits until the run has ended or `timeout` passed; true when it has ended. Before Start
    // there is nothing to wait for: returns false at once.
    [[nodiscard]] bool WaitFor(std::chrono::milliseconds timeout);
    // Waits until the run has ended (at once before Start).
    void Wait();

    // The boards so far (a copy, safe from any thread).
    ProductionTotals Totals() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace quillon
