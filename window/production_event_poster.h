#pragma once

#include <functional>

#include "production/production_event_forwarder.h"

namespace quillon {

class ProductionViewController;

// Carries a production run's events from the run's thread to the view's GUI thread: each
// event is copied into a call that `post` hands to the GUI thread, which makes it there on
// the controller, in the order posted. `post` must not block (a window queues the call); a
// call that can no longer reach the window (it is gone) is dropped by the window's queue.
class ProductionEventPoster : public ProductionEventForwarder {
public:
    using Call = std::function<void(ProductionViewController&)>;
    using Post = std::function<void(Call)>;

    explicit ProductionEventPoster(Post post);
};

}  // namespace quillon
