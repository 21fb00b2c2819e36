#pragma once

#include <functional>
#include <string>
#include <utility>
#include <variant>

#include "production/production_events.h"

namespace quillon {

// A message about the whole run, as one of the run's events.
struct ProductionRunMessage {
    std::string text;
};

// One of a run's events, as a value that can be kept and carried.
using ProductionEvent =
    std::variant<StationStarted, StationStatus, StationProgress, StationLogLine, BoardDone,
                 ProductionTotals, ProductionRunMessage, ProductionEnd>;

// A run's events, each copied into one value and handed to `forward` in the run's own thread,
// in the order they happen: the terminal's display takes them there, a window posts them to
// its GUI thread. `forward` must not block for long (it holds up every station).
class ProductionEventForwarder : public ProductionEvents {
public:
    using Forward = std::function<void(ProductionEvent)>;

    explicit ProductionEventForwarder(Forward forward) : m_forward(std::move(forward)) {}

    void OnStationStarted(const StationStarted& started) override { m_forward(started); }
    void OnStationStatus(const StationStatus& status) override { m_forward(status); }
    void OnStationProgress(const StationProgress& progress) override { m_forward(progress); }
    void OnStationLogLine(const StationLogLine& line) override { m_forward(line); }
    void OnBoardDone(const BoardDone& done) override { m_forward(done); }
    void OnTotals(const ProductionTotals& totals) override { m_forward(totals); }
    void OnRunMessage(const std::string& text) override { m_forward(ProductionRunMessage{text}); }
    void OnRunEnded(const ProductionEnd& end) override { m_forward(end); }

private:
    Forward m_forward;
};

// Makes `event` on `handler` through its method of the same name as ProductionEvents' (a
// ProductionEvents, or a view's controller that takes the events in its own thread).
template <typename Handler>
void HandProductionEvent(const ProductionEvent& event, Handler& handler) {
    struct Visitor {
        Handler& handler;
        void operator()(const StationStarted& e) const { handler.OnStationStarted(e); }
        void operator()(const StationStatus& e) const { handler.OnStationStatus(e); }
        void operator()(const StationProgress& e) const { handler.OnStationProgress(e); }
        void operator()(const StationLogLine& e) const { handler.OnStationLogLine(e); }
        void operator()(const BoardDone& e) const { handler.OnBoardDone(e); }
        void operator()(const ProductionTotals& e) const { handler.OnTotals(e); }
        void operator()(const ProductionRunMessage& e) const { handler.OnRunMessage(e.text); }
        void operator()(const ProductionEnd& e) const { handler.OnRunEnded(e); }
    };
    std::visit(Visitor{handler}, event);
}

}  // namespace quillon
