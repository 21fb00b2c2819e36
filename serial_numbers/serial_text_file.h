#pragma once

#include <string>
#include <vector>

#include "serial_numbers/serial_source.h"

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
