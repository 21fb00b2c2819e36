#include "window/production_event_poster.h"

#include "window/production_view_controller.h"

namespace quillon {

void ProductionEventPoster::OnStationStarted(const StationStarted& started) {
    m_post([started](ProductionViewController& c) { c.OnStationStarted(started); });
}

void ProductionEventPoster::OnStationStatus(const StationStatus& status) {
    m_post([status](ProductionViewController& c) { c.OnStationStatus(status); });
}

void ProductionEventPoster::OnStationProgress(const StationProgress& progress) {
    m_post([progress](ProductionViewController& c) { c.OnStationProgress(progress); });
}

void ProductionEventPoster::OnStationLogLine(const StationLogLine& line) {
    m_post([line](ProductionViewController& c) { c.OnStationLogLine(line); });
}

void ProductionEventPoster::OnBoardDone(const BoardDone& done) {
    m_post([done](ProductionViewController& c) { c.OnBoardDone(done); });
}

void ProductionEventPoster::OnTotals(const ProductionTotals& totals) {
    m_post([totals](ProductionViewController& c) { c.OnTotals(totals); });
}

void ProductionEventPoster::OnRunMessage(const std::string& text) {
    m_post([text](ProductionViewController& c) { c.OnRunMessage(text); });
}

void ProductionEventPoster::OnRunEnded(const ProductionEnd& end) {
    m_post([end](ProductionViewController& c) { c.OnRunEnded(end); });
}

}  // namespace quillon
