#pragma once

#include <chrono>
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
std::optional<SerialTake> LockSerialFile(LockedFile& lock, const std::string& lockPath,
                                         const std::string& name,
                                         std::chrono::milliseconds patience,
                                         const std::function<bool()>& stopRequested);

// Reads the whole regular file at `path` (UTF-8) into `text`. The error of the result says
// what stands in the way, its text led by `name` ("serial counter c.txt does not exist"):
// kMissing, or kUnreadable for a file that cannot be read or is no regular file.
SerialTake ReadSerialTextFile(const std::string& path, const std::string& name, std::string& text);

// The file that `path` names, symbolic links followed: a counter or list reached through a
// link is locked, replaced and marked used where it lies, so that every program naming it by
// any path shares one lock. `path` itself when it does not exist (yet).
std::string RealSerialPath(const std::string& path);

// The lines of `text`, without their line ends (a CR before the LF dropped too). A last line
// without its end is one too.
std::vector<std::string> SplitSerialLines(const std::string& text);

}  // namespace quillon
