#pragma once

#include <string>

#include "helpers/result.h"
#include "platform/write_all.h"

// What the POSIX halves of platform/ do with a file descriptor.

namespace quillon {

// The non-blocking descriptor `fd` (a tty, a FIFO, a file) as a stream for
// WriteAllWithStallLimit: writes what the descriptor takes, waits in poll() for room; a
// descriptor that hangs up fails the write with "hung up", one that takes nothing for
// `stallMs` with `stallText`. For the POSIX halves of platform/ only.
StalledWrite DescriptorStream(int fd, int stallMs, std::string stallText);

// Tries to take the exclusive lock of the open file `fd` without waiting (flock): true when
// taken, false while another holds it, an error with the system's reason when the file cannot
// be locked at all. For WaitForLock.
[[nodiscard]] Result<bool> TryExclusiveLock(int fd);

}  // namespace quillon
