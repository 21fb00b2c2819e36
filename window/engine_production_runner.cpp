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
    m_stopAsked = true;
    if (m_preparer.joinable()) {
        m_preparer.join();  // a wait of the preparation ends at the stop
    }
    m_engine.reset();  // aborts and waits, while what it was prepared with is still there
}

Status EngineProductionRunner::Start(const CheckedProductionSetup& checked) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_preparing || (m_engine && !m_engine->Finished())) {
        return Fail(ErrorKind::kBusy, "a production run is going on");
    }
    Result<ProductionRequest> request = Request(checked);
    if (!request) {
        return Fail(request.error());
    }
    if (m_preparer.joinable()) {
        m_preparer.join();  // its run has ended: the thread is on its way out
    }
    m_engine.reset();
    m_prepared.reset();
    m_stopAsked = false;
    m_preparing = true;
    m_preparer = std::thread([this, request = std::move(*request)] { Prepare(request); });
    return {};
}

void EngineProductionRunner::Prepare(const ProductionRequest& request) {
    // The view shows the error the preparation ends with.
    auto prepared = std::make_unique<PreparedProduction>();
    QuietPreparationMessages quiet;
    const Status ready = PrepareProduction(
        request, [this] { return m_stopAsked.load(); }, quiet, *prepared);
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        // A stop that came after the preparation's last wait still starts no board.
        if (ready && !m_stopAsked) {
            m_prepared = std::move(prepared);
            m_engine = std::make_unique<ProductionEngine>(m_prepared->setup(), m_forwarder, m_env);
            m_engine->Start();
            m_preparing = false;
            return;
        }
    }
    // What was made ready goes (the record file closed, the image's copy removed) before the
    // view hears of the end and may start again.
    prepared.reset();
    ProductionEnd end;
    if (!ready && ready.error().kind != ErrorKind::kAborted) {
        end.notPrepared = ready.error().text;
    }
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_preparing = false;
    }
    m_events.OnRunEnded(end);
}

void EngineProductionRunner::NextBoard() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_engine) {
        m_engine->NextBoard();
    }
}

void EngineProductionRunner::Stop() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_stopAsked = true;
    if (m_engine) {
        m_engine->Stop();
    }
}

void EngineProductionRunner::Abort() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_stopAsked = true;
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
