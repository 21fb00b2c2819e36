#include "window/production_view_controller.h"

#include <algorithm>
#include <utility>

namespace quillon {

namespace {

constexpr const char* kAbortQuestion =
    "Abort every board in work? Each still gets its line in the record.";
constexpr const char* kCloseQuestion =
    "Boards are in work. Stop the run and close the view once their lines are in the record?";

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
        tile.phase = settings.repeat == ProductionRepeat::kReplug ? StationPhase::kWaitingForBoard
                                                                  : StationPhase::kWaitingForEnter;
        m_tiles.push_back(std::move(tile));
    }
    m_totals = ProductionTotals{};
    m_totals.recordPath = settings.record;
    m_runStart = Now();
    m_running = true;
    m_stopping = false;
    m_view.ShowTiles(m_tiles);
    m_view.ShowTotals(m_totals);
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
    if (m_running && AnyBoardInWork() && m_view.Confirm(kAbortQuestion)) {
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

void ProductionViewController::OnStationPhase(std::size_t index, StationPhase phase) {
    StationTile* tile = Tile(index);
    if (tile == nullptr) {
        return;
    }
    if (phase == StationPhase::kInitializing && !tile->BoardInWork()) {
        // A new board: its progress starts empty, its predecessor's result stays until it ends.
        tile->done = 0;
        tile->total = 0;
    }
    tile->phase = phase;
    ShowTile(index);
    ShowControls();
}

void ProductionViewController::OnStationProgress(std::size_t index, std::uint32_t done,
                                                 std::uint32_t total) {
    if (StationTile* tile = Tile(index)) {
        tile->done = std::min(done, total);
        tile->total = total;
        ShowTile(index);
    }
}

void ProductionViewController::OnStationLog(std::size_t index, const std::string& text,
                                            bool append) {
    if (StationTile* tile = Tile(index)) {
        if (append) {
            tile->log.AppendToLast(text);
        } else {
            tile->log.Add(text);
        }
    }
}

void ProductionViewController::OnBoardDone(std::size_t index, const BoardOutcome& outcome) {
    StationTile* tile = Tile(index);
    if (tile == nullptr) {
        return;
    }
    tile->last = outcome;
    ++tile->boards;
    ++m_totals.boards;
    ++(outcome.result == BoardResult::kOk       ? m_totals.ok
       : outcome.result == BoardResult::kFailed ? m_totals.failed
                                                : m_totals.aborted);
    const auto elapsed = std::chrono::duration<double>(Now() - m_runStart).count();
    m_totals.boardsPerHour =
        elapsed > 0 ? static_cast<int>(m_totals.boards * 3600.0 / elapsed + 0.5) : 0;
    ShowTile(index);
    m_view.ShowTotals(m_totals);
}

void ProductionViewController::OnRunEnded() {
    if (!m_running) {
        return;
    }
    m_running = false;
    m_stopping = false;
    for (std::size_t index = 0; index < m_tiles.size(); ++index) {
        if (m_tiles[index].phase != StationPhase::kEnded) {
            m_tiles[index].phase = StationPhase::kEnded;
            ShowTile(index);
        }
    }
    ShowControls();
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
    controls.abort = m_running && AnyBoardInWork();
    m_view.ShowControls(controls);
}

std::chrono::steady_clock::time_point ProductionViewController::Now() const {
    return m_sources.now ? m_sources.now() : std::chrono::steady_clock::now();
}

}  // namespace quillon
