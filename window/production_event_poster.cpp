#include "window/production_event_poster.h"

#include <utility>

#include "window/production_view_controller.h"

namespace quillon {

ProductionEventPoster::ProductionEventPoster(Post post)
    : ProductionEventForwarder([post = std::move(post)](ProductionEvent event) {
          post([event = std::move(event)](ProductionViewController& controller) {
              HandProductionEvent(event, controller);
          });
      }) {}

}  // namespace quillon
