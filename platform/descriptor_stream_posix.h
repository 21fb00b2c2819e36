#pragma once

#include <string>

#include "platform/write_all.h"

namespace quillon {

// The non-blocking descriptor `fd` (a tty, a FIFO, a file) as a stream for
// WriteAllWithStallLimit: writes what the descriptor takes, waits in poll() for room; a
// descriptor that hangs up fails the write with "hung up", one that takes nothing for
// `stallMs` with `stallText`. For the POSIX halves of platform/ only.
StalledWrite DescriptorStream(int fd, int stallMs, std::string stallText);

}  // namespace quillon
