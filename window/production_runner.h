#pragma once

#include <functional>
#include <memory>

#include "helpers/result.h"
#include "production/production_events.h"
#include "window/production_settings.h"

namespace quillon {

// What runs the production line for the production view: the line's engine, or a test's
// fake. It reports each station's phase, progress, log lines and boards to the view's
// controller in the view's GUI thread, and says when the run has ended; none of its calls
// waits for a board, nor for the run's preparation.
class ProductionRunner {
public:
    virtual ~ProductionRunner() = default;

    // Starts the run of `setup` and returns at once: the run is made ready (its record file,
    // image, database and serial numbers) away from the caller's thread, then every station
    // begins its first board, or its wait for one. An error refuses only what is seen at once
    // (a run going on, a target not listed). A preparation that fails ends the run with
    // ProductionEnd::notPrepared saying why; Stop or Abort during it ends the run before any
    // board. Either way the run's first events or its end say that the preparation is over.
    [[nodiscard]] virtual Status Start(const CheckedProductionSetup& setup) = 0;
    // The operator's Enter: every station waiting for it begins its next board.
    virtual void NextBoard() = 0;
    // No further boards: the run ends once the boards in work have their lines (a run still
    // being made ready ends without a board).
    virtual void Stop() = 0;
    // Every board in work is aborted (each still gets its line), and the run ends (a run still
    // being made ready ends without a board).
    virtual void Abort() = 0;
};

// Makes the runner of a view whose run's events go to `events` (a ProductionEventPoster, which
// carries them to the view's GUI thread).
using ProductionRunnerFactory =
    std::function<std::unique_ptr<ProductionRunner>(ProductionEvents& events)>;

}  // namespace quillon
