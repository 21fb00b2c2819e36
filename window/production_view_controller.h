#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/target_folders.h"
#include "production/production_events.h"
#include "window/production_runner.h"
#include "window/production_settings.h"
#include "window/production_view.h"
#include "window/window_lists.h"

namespace quillon {

// The main window's entry that opens the production view (the log's menu, the system menu).
inline constexpr const char* kProductionMenuEntry = "Production…";

// Where the production view takes its lists, its checks and its runs from.
struct ProductionSources {
    TargetFolders targetFolders;
    PortEnumerator enumeratePorts;             // empty: EnumerateComPorts
    SameDeviceCheck sameDevice;                // two names of one device among the stations
    std::unique_ptr<ProductionRunner> runner;  // its events reach the controller's On... calls
    std::string imageFile = {};  // named on the command line: in place of the saved image
};

// Everything the production view decides, whatever its toolkit: the setup (restored from and
// saved to the settings, checked before a run), one tile per station, the totals, and the
// operator's controls. Next (and Enter) starts every station waiting for it; Stop ends the run
// after the boards in work; Abort asks first, then aborts every board in work. Escape does
// nothing while a board is in work, else it closes as the close box does; closing during a
// run asks first while boards are in work, then stops the run and closes once it has ended, so
// that every board started gets its line in the record.
//
// A run starts with its preparation, which the runner does away from the GUI thread: the run's
// status says "Preparing…" until its first event. Stop and Abort (without a question: no board
// is in work) end the preparation, and a close waits only for that end; a preparation that
// fails ends the run with its error shown as a start refused at once is.
//
// The run's events (ProductionEvents) reach it through the On... calls of the same names, in
// the GUI thread (ProductionEventPoster carries them there).
class ProductionViewController {
public:
    // `view` and `store` must outlive the controller.
    ProductionViewController(ProductionView& view, SettingsStore& store, ProductionSources sources);

    // The view opens: the setup as saved (the command line's image in place of the saved
    // one), the lists, the controls of a view without a run.
    void Open();

    // The operator's actions.
    void OnStart(const ProductionSettings& settings);
    void OnNext();
    void OnStop();
    void OnAbort();
    void OnEscape();
    void OnClose();
    void OnOpenStationLog(std::size_t index);

    // The run's events, in the GUI thread.
    void OnStationStarted(const StationStarted& started);
    void OnStationStatus(const StationStatus& status);
    void OnStationProgress(const StationProgress& progress);
    void OnStationLogLine(const StationLogLine& line);
    void OnBoardDone(const BoardDone& done);
    void OnTotals(const ProductionTotals& totals);
    void OnRunMessage(const std::string& text);
    void OnRunEnded(const ProductionEnd& end);

    bool Running() const { return m_running; }
    bool AnyBoardInWork() const;
    const std::vector<StationTile>& Tiles() const { return m_tiles; }
    // The station holding `port`, named for a message ("station 2 (/dev/ttyUSB1)"), while a
    // run uses it; none otherwise.
    std::optional<std::string> StationHolding(const std::string& port) const;

private:
    StationTile* Tile(std::size_t index);
    // The run's first event came: its preparation is over.
    void Prepared();
    void ShowTile(std::size_t index);
    void ShowControls();

    ProductionView& m_view;
    SettingsStore& m_store;
    ProductionSources m_sources;
    PortListEntries m_ports;
    std::vector<StationTile> m_tiles;
    std::string m_recordPath;
    bool m_running = false;
    bool m_preparing = false;  // the runner makes the run ready; no event of it came yet
    bool m_stopping = false;   // Stop, Abort or a close asked for the run's end
    bool m_closing = false;    // the view closes once the run has ended
};

// How a station is named to the operator: "station 2 (/dev/ttyUSB1)" (counted from 1).
std::string StationName(std::size_t index, const std::string& port);

}  // namespace quillon
