#pragma once

#include <memory>
#include <string>

#include "image/target_folders.h"
#include "platform/system_env.h"
#include "production/production_engine.h"
#include "production/station_image_copy.h"
#include "window/production_runner.h"

namespace quillon {

// The production view's runs on the line's engine: Start makes the run's values from a
// checked setup as quillon-cli makes them (the target's monitor file, the record file opened,
// the image read once into the run's private copy and its digest, the serial numbers' source
// checked) and starts the engine, whose events go to `events`. The stations' programs are
// `stationProgram` (quillon-cli), one per board.
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
    [[nodiscard]] Result<ProductionSetup> MakeSetup(const CheckedProductionSetup& checked);

    ProductionEvents& m_events;
    SystemEnv& m_env;
    std::string m_stationProgram;
    TargetFolders m_targetFolders;
    // Of the run that goes on, or of the last one: the engine before the copy it reads.
    std::unique_ptr<StationImageCopy> m_imageCopy;
    std::unique_ptr<ProductionEngine> m_engine;
};

}  // namespace quillon
