#include "platform/latency_timer.h"

namespace quillon {

std::string LatencyTimerHowTo(const std::string& port) {
    return "in the Device Manager, " + port +
           "'s Properties, Port Settings, Advanced: Latency Timer (msec)";
}

}  // namespace quillon
