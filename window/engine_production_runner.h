#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "image/target_folders.h"
#include "platform/system_env.h"
#include "production/production_engine.h"
#include "production/production_event_forwarder.h"
#include "production/production_preparation.h"
#include "window/production_runner.h"

namespace quillon {

// The production view's runs on the line's engine: Start finds the target's monitor file and
// returns; a thread of the runner's own then makes the run ready from the checked setup with
// quillon-cli's preparation (the record file opened, the image read once into the run's private
// copy and its digest, the factory database opened, the serial numbers' source checked) and
// starts the engine, whose events go to `events`. Stop and Abort reach the preparation's waits;
// a preparation that fails or is stopped ends the run through `events` (OnRunEnded). The
// stations' programs are `stationProgram` (quillon-cli), one per board.
class EngineProductionRunner : public ProductionRunner {
public:
    // `events` and `env` must outlive the runner.
    EngineProductionRunner(ProductionEvents& events, SystemEnv& env, std::string stationProgram,
                           TargetFolders targetFolders);
    // A preparation going on is stopped and its thread joined; a run still going is aborted
    // and waited for: every board started gets its line.
    ~EngineProductionRunner() override;

    [[nodiscard]] Status Start(const CheckedProductionSetup& setup) override;
    void NextBoard() override;
    void Stop() override;
    void Abort() override;

private:
    // What `checked` asks for, with the target's monitor file found.
    [[nodiscard]] Result<ProductionRequest> Request(const CheckedProductionSetup& checked) const;

    // In the preparation's thread: makes `request` ready and starts the engine on it, or ends
    // the run (it failed, or a stop came).
    void Prepare(const ProductionRequest& request);

    // The run's events on their way to `m_events`: before the run's end, the rows that the
    // factory database did not take are said (they wait in the spool for the next run).
    void Forward(const ProductionEvent& event);

    ProductionEvents& m_events;
    ProductionEventForwarder m_forwarder{[this](const ProductionEvent& event) { Forward(event); }};
    SystemEnv& m_env;
    std::string m_stationProgram;
    TargetFolders m_targetFolders;
    // Guards the preparation's state and the engine, which the preparation's thread makes.
    std::mutex m_mutex;
    bool m_preparing = false;
    // Stop or Abort came: the preparation's waits end, and no engine is made after it.
    std::atomic<bool> m_stopAsked{false};
    // Of the run that goes on, or of the last one: the engine goes before what it uses.
    std::unique_ptr<PreparedProduction> m_prepared;
    std::unique_ptr<ProductionEngine> m_engine;
    std::thread m_preparer;
};

}  // namespace quillon
