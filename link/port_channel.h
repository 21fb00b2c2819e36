#pragma once

#include <functional>

#include "link/byte_channel.h"
#include "link/line_settings.h"
#include "platform/system_env.h"
#include "ports/port_address.h"

namespace quillon {

// Opens a job's line where `address` leads: `line.port` as a local serial port
// ("/dev/ttyUSB0", "COM3") or a serial port on the network ("rfc2217://HOST:PORT",
// "socket://HOST:PORT"), at `line.baud`. `stop` ends the opening of a network port wherever it
// waits (look-up, connect, negotiation). The device or connection comes from `env`, and the
// line's waits are timed by its clock (`env` must outlive the channel).
[[nodiscard]] OpenedChannel OpenPortChannel(const PortAddress& address, const LineSettings& line,
                                            const std::function<bool()>& stop, SystemEnv& env);

}  // namespace quillon
