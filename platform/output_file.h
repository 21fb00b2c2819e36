#pragma once

#include <string>
#include <string_view>

#include "helpers/result.h"

namespace quillon {

// Writes one of the virtual target's outputs (the report, the flash dump) to `path`, by what the
// path names:
// - a regular file, or nothing yet: replaced whole. The content goes to a new file beside it,
//   renamed over it once complete, so a reader sees the old content or the new, never half;
//   a file that was there keeps its permission bits.
// - a symbolic link: followed, and what it leads to is written by these rules; the link stays.
// - a FIFO or a character device (a terminal, /dev/null): written as it is, never turned into
//   a regular file. A FIFO must have a reader already, or the write fails at once ("no reader")
//   instead of waiting for one; a reader or device that takes nothing for 10 s fails it too.
// - a directory, a block device (a slip of the finger would overwrite a file system) or a
//   socket: refused.
// On failure the error reads "cannot write <what> <path>: <reason>". A reader that goes away
// raises SIGPIPE: a program that writes to FIFOs ignores it, and gets the error instead.
[[nodiscard]] Status WriteOutputFile(const std::string& path, std::string_view content,
                                     const std::string& what);

}  // namespace quillon
