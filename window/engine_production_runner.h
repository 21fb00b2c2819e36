#pragma once

#include <memory>
#include <string>

#include "image/target_folders.h"
#include "platform/system_env.h"
#include "production/production_engine.h"
#include "production/production_event_forwarder.h"
#include "production/production_preparation.h"
#include "window/production_runner.h"

namespace quillon {

// The production view's runs on the line's engine: Start finds the target's monitor file and
// makes the run ready from a checked setup with quillon-cli's preparation (the record file
// opened, the image read once into the run's private copy and its digest, the factory
// database opened, the serial numbers' source checked) and starts the engine, whose events go to
// `events`. The stations' programs are `stationProgram` (quillon-cli), one per board.
class EngineProductionRunner : public ProductionRunner {
public:
    // `events` and `env` must outlive the runner.
    EngineProductionRunner(ProductionEvents& events, SystemEnv& env, std::string stationProgram,
                           TargetFolders targetFolders);
    // A run still going is aborted and waited for: every board started gets its line.
    ~EngineProductionRunner() override;

    [[nodiscard]] Status Start(const CheckedProductionSetup& setup) override;
    void NextBoard() override;
    void Stop() override;
    void Abort() override;

private:
    // What `checked` asks for, with the target's monitor file found.
    [[nodiscard]] Result<ProductionRequest> Request(const CheckedProductionSetup& checked) const;

    // The run's events on their way to `m_events`: before the run's end, the rows that the
    // factory database did not take are said (they wait in the spool for the next run).
    void Forward(const ProductionEvent& event);

    ProductionEvents& m_events;
    ProductionEventForwarder m_forwarder{[this](const ProductionEvent& event) { Forward(event); }};
    SystemEnv& m_env;
    std::string m_stationProgram;
    TargetFolders m_targetFolders;
    // Of the run that goes on, or of the last one: the engine goes before what it uses.
    std::unique_ptr<PreparedProduction> m_prepared;
    std::unique_ptr<ProductionEngine> m_engine;
};

}  // namespace quillon
