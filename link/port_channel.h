#pragma once

#include <functional>

#include "link/byte_channel.h"
#include "link/line_settings.h"

namespace quillon {

// Opens a job's line by its port name: a local serial port ("/dev/ttyUSB0", "COM3") or a
// serial port on the network ("rfc2217://HOST:PORT", "socket://HOST:PORT"). `stop` ends the
// opening of a network port wherever it waits (look-up, connect, negotiation). A malformed network
// port name cannot be opened (its reason says why).
[[nodiscard]] OpenedChannel OpenPortChannel(const LineSettings& line,
                                            const std::function<bool()>& stop = {});

}  // namespace quillon
