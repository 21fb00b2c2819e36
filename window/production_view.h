#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "window/production_settings.h"
#include "window/station_tile.h"
#include "window/window_message.h"

namespace quillon {

// What the setup's lists offer: the targets by display name, the ports with their
// descriptions, the baud rates.
struct ProductionSetupLists {
    std::vector<std::string> targets;
    std::vector<std::string> ports;
    std::vector<std::string> portDescriptions;  // one per port
    std::vector<std::string> baudRates;
};

// Which controls the operator may use.
struct ProductionControls {
    bool setup = true;  // the setup's fields and Start
    bool next = false;  // Next (and Enter): starts every station waiting for it
    bool stop = false;  // ends the run after the boards in work
    bool abort = false;

    bool operator==(const ProductionControls&) const = default;
};

// What ProductionViewController drives: the production view of a toolkit, or a test's
// recording. Every call comes in the view's GUI thread; the view passes the operator's
// actions to the controller's On... calls in that thread too.
class ProductionView {
public:
    virtual ~ProductionView() = default;

    // The setup's fields as `settings` has them, their lists from `lists`.
    virtual void ShowSetup(const ProductionSetupLists& lists,
                           const ProductionSettings& settings) = 0;
    // One tile per station of the run that starts, in the order of its stations.
    virtual void ShowTiles(const std::vector<StationTile>& tiles) = 0;
    // Tile `index` now shows `tile`.
    virtual void ShowTile(std::size_t index, const StationTile& tile) = 0;
    // The run's totals, below the tiles, and the record file they are written to.
    virtual void ShowTotals(const ProductionTotals& totals, const std::string& recordPath) = 0;
    // A message about the whole run, below the totals (the last one stays).
    virtual void ShowRunMessage(const std::string& text) = 0;
    virtual void ShowControls(const ProductionControls& controls) = 0;
    // A modal box with an OK button.
    virtual void ShowMessage(const WindowMessage& message) = 0;
    // A modal question with Yes and No; true for Yes.
    [[nodiscard]] virtual bool Confirm(const std::string& question) = 0;
    // A window with a station's log: `title` names the station.
    virtual void ShowStationLog(const std::string& title,
                                const std::vector<std::string>& lines) = 0;
    // The view disappears.
    virtual void Close() = 0;
};

}  // namespace quillon
