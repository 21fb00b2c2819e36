#include "window/production_view_controller.h"

#include <algorithm>
#include <utility>

namespace quillon {

namespace {

constexpr const char* kAbortQuestion =
    "Abort every board in work? Each still gets its line in the record.";
constexpr const char* kCloseQuestion =
    "Boards are in work. Stop the run and close the view once their lines are in the record?";
// The run's status while its record file, image, database and serial numbers are made ready.
constexpr const char* kPreparingText = "Preparing…";

}  // namespace

std::string StationName(std::size_t index, const std::string& port) {
    return "station " + std::to_string(index + 1) + " (" + port + ")";
}

ProductionViewController::ProductionViewController(ProductionView& view, SettingsStore& store,
                                                   ProductionSources sources)
    : m_view(view), m_store(store), m_sources(std::move(sources)) {}

void ProductionViewController::Open() {
    ProductionSettings settings = LoadProductionSettings(m_store);
    if (!m_sources.imageFile.empty()) {
        settings.image = m_sources.imageFile;
    }
    ProductionSetupLists lists;
    for (const MonitorFileEntry& entry :
         LoadTargetListEntries(m_sources.targetFolders, settings.target).entries) {
        lists.targets.push_back(entry.displayName);
    }
    m_ports = LoadPortListEntries(m_sources.enumeratePorts, {});
    lists.ports = m_ports.ports;
    lists.portDescriptions = m_ports.descriptions;
    lists.baudRates = BaudRateTexts();
    m_view.ShowSetup(lists, settings);
    ShowControls();
}

void ProductionViewController::OnStart(const ProductionSettings& settings) {
    if (m_running || m_closing) {
        return;
    }
    Result<CheckedProductionSetup> checked =
        CheckProductionSettings(settings, m_sources.sameDevice);
    if (!checked) {
        m_view.ShowMessage({checked.error().text, MessageIcon::kWarning});
        return;
    }
    SaveProductionSettings(m_store, settings);
    if (Status started = m_sources.runner->Start(*checked); !started) {
        m_view.ShowMessage({started.error().text, MessageIcon::kWarning});
        return;
    }
    m_tiles.clear();
    for (const std::string& port : settings.stations) {
        StationTile tile;
        tile.port = port;
        const auto listed = std::find(m_ports.ports.begin(), m_ports.ports.end(), port);
        const auto at = static_cast<std::size_t>(listed - m_ports.ports.begin());
        tile.description = at < m_ports.descriptions.size() ? m_ports.descriptions[at] : port;
        m_tiles.push_back(std::move(tile));
    }
    m_recordPath = settings.record;
    m_running = true;
    m_preparing = true;
    m_stopping = false;
    m_view.ShowTiles(m_tiles);
    m_view.ShowTotals(ProductionTotals{}, m_recordPath);
    m_view.ShowRunMessage(kPreparingText);
    ShowControls();
}

void ProductionViewController::OnNext() {
    const bool anyWaiting = std::any_of(m_tiles.begin(), m_tiles.end(), [](const auto& tile) {
        return tile.phase == StationPhase::kWaitingForEnter;
    });
    if (m_running && !m_stopping && anyWaiting) {
        m_sources.runner->NextBoard();
    }
}

void ProductionViewController::OnStop() {
    if (m_running && !m_stopping) {
        m_stopping = true;
        m_sources.runner->Stop();
        ShowControls();
    }
}

void ProductionViewController::OnAbort() {
    // A run still being made ready has no board to lose: it ends without a question.
    const bool preparing = m_preparing && !m_stopping;
    if (m_running && (preparing || (AnyBoardInWork() && m_view.Confirm(kAbortQuestion)))) {
        m_stopping = true;
        m_sources.runner->Abort();
        ShowControls();
    }
}

void ProductionViewController::OnEscape() {
    if (!AnyBoardInWork()) {
        OnClose();
    }
}

void ProductionViewController::OnClose() {
    if (!m_running) {
        m_view.Close();
        return;
    }
    if (m_closing || (AnyBoardInWork() && !m_view.Confirm(kCloseQuestion))) {
        return;
    }
    m_closing = true;
    OnStop();
}

void ProductionViewController::OnOpenStationLog(std::size_t index) {
    if (const StationTile* tile = Tile(index)) {
        m_view.ShowStationLog(StationName(index, tile->port), tile->log.Lines());
    }
}

void ProductionViewController::OnStationStarted(const StationStarted& started) {
    Prepared();
    if (StationTile* tile = Tile(started.station)) {
        // A new board: its bar starts empty; its predecessor's result stays until it ends.
        tile->done = 0;
        tile->total = 0;
        tile->phase = StationPhase::kInitializing;
        ShowTile(started.station);
        ShowControls();
    }
}

void ProductionViewController::OnStationStatus(const StationStatus& status) {
    Prepared();
    if (StationTile* tile = Tile(status.station)) {
        tile->phase = status.phase;
        ShowTile(status.station);
        ShowControls();
    }
}

void ProductionViewController::OnStationProgress(const StationProgress& progress) {
    Prepared();
    if (StationTile* tile = Tile(progress.station)) {
        tile->done = std::min(progress.done, progress.total);
        tile->total = progress.total;
        ShowTile(progress.station);
    }
}

void ProductionViewController::OnStationLogLine(const StationLogLine& line) {
    Prepared();
    if (StationTile* tile = Tile(line.station)) {
        tile->log.Add(line.text);
    }
}

void ProductionViewController::OnBoardDone(const BoardDone& done) {
    Prepared();
    if (StationTile* tile = Tile(done.station)) {
        tile->last = done;
        tile->boards = done.totals.boards;
        ShowTile(done.station);
    }
}

void ProductionViewController::OnTotals(const ProductionTotals& totals) {
    if (m_running) {
        m_view.ShowTotals(totals, m_recordPath);
    }
}

void ProductionViewController::OnRunMessage(const std::string& text) {
    Prepared();
    m_view.ShowRunMessage(text);
}

void ProductionViewController::OnRunEnded(const ProductionEnd& end) {
    if (!m_running) {
        return;
    }
    Prepared();
    m_running = false;
    m_stopping = false;
    for (std::size_t index = 0; index < m_tiles.size(); ++index) {
        if (m_tiles[index].phase != StationPhase::kEnded) {
            m_tiles[index].phase = StationPhase::kEnded;
            ShowTile(index);
        }
    }
    m_view.ShowTotals(end.totals, m_recordPath);
    ShowControls();
    if (!end.sameDevice.empty()) {
        m_view.ShowMessage({end.sameDevice, MessageIcon::kWarning});
    }
    // As a start refused at once is shown.
    if (!end.notPrepared.empty()) {
        m_view.ShowMessage({end.notPrepared, MessageIcon::kWarning});
    }
    if (m_closing) {
        m_closing = false;
        m_view.Close();
    }
}

bool ProductionViewController::AnyBoardInWork() const {
    return std::any_of(m_tiles.begin(), m_tiles.end(),
                       [](const StationTile& tile) { return tile.BoardInWork(); });
}

std::optional<std::string> ProductionViewController::StationHolding(const std::string& port) const {
    for (std::size_t index = 0; m_running && index < m_tiles.size(); ++index) {
        if (m_tiles[index].port == port) {
            return StationName(index, port);
        }
    }
    return std::nullopt;
}

StationTile* ProductionViewController::Tile(std::size_t index) {
    return m_running && index < m_tiles.size() ? &m_tiles[index] : nullptr;
}

void ProductionViewController::Prepared() {
    if (m_preparing) {
        m_preparing = false;
        m_view.ShowRunMessage({});
    }
}

void ProductionViewController::ShowTile(std::size_t index) {
    m_view.ShowTile(index, m_tiles[index]);
}

void ProductionViewController::ShowControls() {
    ProductionControls controls;
    controls.setup = !m_running;
    controls.next = m_running && !m_stopping &&
                    std::any_of(m_tiles.begin(), m_tiles.end(), [](const StationTile& tile) {
                        return tile.phase == StationPhase::kWaitingForEnter;
                    });
    controls.stop = m_running && !m_stopping;
    controls.abort = m_running && ((m_preparing && !m_stopping) || AnyBoardInWork());
    m_view.ShowControls(controls);
}

}  // namespace quillon
