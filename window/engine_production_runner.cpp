#include "window/engine_production_runner.h"

#include <optional>
#include <utility>
#include <variant>

#include "platform/host_name.h"
#include "window/window_lists.h"

namespace quillon {

EngineProductionRunner::EngineProductionRunner(ProductionEvents& events, SystemEnv& env,
                                               std::string stationProgram,
                                               TargetFolders targetFolders)
    : m_events(events),
      m_env(env),
      m_stationProgram(std::move(stationProgram)),
      m_targetFolders(std::move(targetFolders)) {}

EngineProductionRunner::~EngineProductionRunner() {
    m_engine.reset();  // aborts and waits, while what it was prepared with is still there
}

Status EngineProductionRunner::Start(const CheckedProductionSetup& checked) {
    if (m_engine && !m_engine->Finished()) {
        return Fail(ErrorKind::kBusy, "a production run is going on");
    }
    m_engine.reset();
    const Result<ProductionRequest> request = Request(checked);
    if (!request) {
        return Fail(request.error());
    }
    // The view shows the error the preparation ends with; a stop is the view's Abort, which
    // has nothing to abort before the run started.
    auto prepared = std::make_unique<PreparedProduction>();
    QuietPreparationMessages quiet;
    if (Status ready = PrepareProduction(*request, {}, quiet, *prepared); !ready) {
        return ready;
    }
    m_prepared = std::move(prepared);
    m_engine = std::make_unique<ProductionEngine>(m_prepared->setup(), m_forwarder, m_env);
    m_engine->Start();
    return {};
}

void EngineProductionRunner::NextBoard() {
    if (m_engine) {
        m_engine->NextBoard();
    }
}

void EngineProductionRunner::Stop() {
    if (m_engine) {
        m_engine->Stop();
    }
}

void EngineProductionRunner::Abort() {
    if (m_engine) {
        m_engine->Abort();
    }
}

void EngineProductionRunner::Forward(const ProductionEvent& event) {
    // In the run's thread, whose engine goes before what it was prepared with.
    if (std::holds_alternative<ProductionEnd>(event) && m_prepared->rows() != nullptr) {
        // A last try, bounded by the database's patience.
        if (const std::optional<std::string> left = RowsLeftInSpool(*m_prepared->rows(), {})) {
            m_events.OnRunMessage(*left + ": the next run with this database stores them");
        }
    }
    HandProductionEvent(event, m_events);
}

Result<ProductionRequest> EngineProductionRunner::Request(
    const CheckedProductionSetup& checked) const {
    const ProductionSettings& settings = checked.settings;
    ProductionRequest request;
    ProductionSetup& values = request.values;
    values.stationProgram = m_stationProgram;
    for (const MonitorFileEntry& entry :
         LoadTargetListEntries(m_targetFolders, settings.target).entries) {
        if (entry.displayName == settings.target) {
            values.targetName = entry.displayName;
            values.monitorFile = entry.path;
        }
    }
    if (values.monitorFile.empty()) {
        return Fail(ErrorKind::kNotFound, "the target " + settings.target + " is not listed");
    }
    values.image = settings.image;
    values.baud = *settings.baudRate;
    values.echoWindow = settings.echoWindow;
    values.eraseAll = settings.eraseAll;
    values.stations = settings.stations;
    values.repeat = settings.repeat;
    values.host = HostName();
    request.record = settings.record;
    request.database = settings.database;
    if (checked.serialPatch) {
        values.serialPatch = checked.serialPatch;
        values.serialAt = settings.serialAt;
        values.serialFormat = settings.serialFormat;
        values.serialPlaceholder = settings.serialPlaceholder;
        switch (settings.serialSource) {
            case SerialNumberSource::kCounterFile:
                request.serial.counterFile = settings.serialFile;
                break;
            case SerialNumberSource::kListFile:
                request.serial.listFile = settings.serialFile;
                break;
            case SerialNumberSource::kDatabaseCounter:
                request.serial.databaseCounter = settings.serialCounter;
                break;
            case SerialNumberSource::kOff:
                break;
        }
    }
    return request;
}

}  // namespace quillon
