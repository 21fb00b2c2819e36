#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/locked_file.h"
#include "serial_numbers/serial_source.h"

namespace quillon {

// Locks `lockPath` into `lock` for the source `name`, waiting up to `patience` for another
// program's take (a stop request ends the wait). Else why not: kBusy, kAborted, or kIo for a
// lock file that cannot be used.
[[nodiscard]] Status LockSerialFile(LockedFile& lock, const std::string& lockPath,
                                    const std::string& name, std::chrono::milliseconds patience,
                                    const std::function<bool()>& stopRequested);

// The most a counter file holds (a number with blanks and a line end around it), and the most
// a list or its .used file holds: a larger file is refused rather than read.
inline constexpr std::size_t kSerialCounterLimit = 64;
inline constexpr std::size_t kSerialListLimit = 64 * 1024 * 1024;

// The text of the regular file at `path` (UTF-8) when it holds at most `limit` bytes; the open
// never blocks. Else what stands in the way, its text led by `name` ("serial counter c.txt
// does not exist"): kNotFound; kIo for a file that cannot be read or is no regular file;
// kRefused for one larger than `limit` or with more than one name (see SeveralNamesRefusal).
[[nodiscard]] Result<std::string> ReadSerialTextFile(const std::string& path,
                                                     const std::string& name, std::size_t limit);

// Where the counter, list or .used file `path` lies: symbolic links followed, so
// that a file reached through a link is locked, replaced and marked used where it lies and
// every program naming it by any path shares one lock; `path` itself while nothing has that
// name. A link whose target does not exist (on a share that is not mounted) is refused
// (kRefused, naming the link and its target): a file made in its place would start the numbers
// anew, away from those already given, and the link would be gone.
[[nodiscard]] Result<std::string> ResolveSerialPath(const std::string& path,
                                                    const std::string& name);

// The refusal of a file led by `name` that has `links` names (hard links), when it has more
// than one: each name would get a lock and a .used file of its own, so a number taken through
// one name could be taken again through another (kRefused). Success for a file of one name.
[[nodiscard]] Status SeveralNamesRefusal(const std::string& name, std::uint64_t links);

// The lines of `text`, without their line ends (a CR before the LF dropped too). A last line
// without its end is one too.
std::vector<std::string> SplitSerialLines(const std::string& text);

}  // namespace quillon
