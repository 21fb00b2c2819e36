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
// waits for a board.
class ProductionRunner {
public:
    virtual ~ProductionRunner() = default;

    // Starts the run of `setup`: every station begins its first board, or its wait for one.
    [[nodiscard]] virtual Status Start(const CheckedProductionSetup& setup) = 0;
    // The operator's Enter: every station waiting for it begins its next board.
    virtual void NextBoard() = 0;
    // No further boards: the run ends once the boards in work have their lines.
    virtual void Stop() = 0;
    // Every board in work is aborted (each still gets its line), and the run ends.
    virtual void Abort() = 0;
};

// Makes the runner of a view whose run's events go to `events` (a ProductionEventPoster, which
// carries them to the view's GUI thread).
using ProductionRunnerFactory =
    std::function<std::unique_ptr<ProductionRunner>(ProductionEvents& events)>;

}  // namespace quillon
