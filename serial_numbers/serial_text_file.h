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

// A take that failed with `error`, said by `text`.
SerialTake FailedTake(SerialTakeError error, std::string text);

// Locks `lockPath` into `lock` for the source `name`, waiting up to `patience` for another
// program's take (a stop request ends the wait). Empty once locked; else the failed take that
// says why: kLocked, kStopped, or kUnwritable for a lock file that cannot be used.
[[nodiscard]] std::optional<SerialTake> LockSerialFile(LockedFile& lock,
                                                       const std::string& lockPath,
                                                       const std::string& name,
                                                       std::chrono::milliseconds patience,
                                                       const std::function<bool()>& stopRequested);

// The most a counter file holds (a number with blanks and a line end around it), and the most
// a list or its .used file holds: a larger file is refused rather than read.
inline constexpr std::size_t kSerialCounterLimit = 64;
inline constexpr std::size_t kSerialListLimit = 64 * 1024 * 1024;

// Reads the regular file at `path` (UTF-8) into `text` when it holds at most `limit` bytes;
// the open never blocks. The error of the result says what stands in the way, its text led by
// `name` ("serial counter c.txt does not exist"): kMissing; kUnreadable for a file that cannot
// be read or is no regular file; kRefused for one larger than `limit` or with more than one
// name (see SeveralNamesRefusal).
[[nodiscard]] SerialTake ReadSerialTextFile(const std::string& path, const std::string& name,
                                            std::size_t limit, std::string& text);

// Where the counter, list or .used file `path` lies, into `real`: symbolic links followed, so
// that a file reached through a link is locked, replaced and marked used where it lies and
// every program naming it by any path shares one lock; `path` itself while nothing has that
// name. A link whose target does not exist (on a share that is not mounted) is refused
// (kRefused, naming the link and its target): a file made in its place would start the numbers
// anew, away from those already given, and the link would be gone.
[[nodiscard]] SerialTake ResolveSerialPath(const std::string& path, const std::string& name,
                                           std::string& real);

// The refusal of a file led by `name` that has `links` names (hard links), when it has more
// than one: each name would get a lock and a .used file of its own, so a number taken through
// one name could be taken again through another. Empty for a file of one name.
[[nodiscard]] std::optional<SerialTake> SeveralNamesRefusal(const std::string& name,
                                                            std::uint64_t links);

// The lines of `text`, without their line ends (a CR before the LF dropped too). A last line
// without its end is one too.
std::vector<std::string> SplitSerialLines(const std::string& text);

}  // namespace quillon
