#pragma once

#include <cstdint>

#include "helpers/result.h"

// A terminal's line speed, in bits per second. The system's way for arbitrary rates needs
// declarations that clash with <termios.h>, so they live in a file of their own. For the
// POSIX halves of platform/ only.

namespace quillon {

// Sets the terminal `fd` to `bitsPerSecond` in both directions, leaving its other settings:
// a standard rate by its constant, any other through the driver's arbitrary rate (Linux).
// An error with the system's reason when the driver refuses.
[[nodiscard]] Status SetLineSpeed(int fd, std::uint32_t bitsPerSecond);

// The output rate the driver holds for the terminal `fd`, as it reports it back.
[[nodiscard]] Result<std::uint32_t> LineSpeed(int fd);

}  // namespace quillon
