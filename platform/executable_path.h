#pragma once

#include <string>

namespace quillon {

// The full path of the running program's executable file, UTF-8 (empty if it cannot be told).
std::string ExecutablePath();

// The folder that holds the running program's executable file (empty if it cannot be told).
std::string ExecutableDirectory();

// The path by which the running program starts itself again: its file's real path (so that the
// new process shows under the program's name); on Linux a file replaced since it started (an
// update of the package) is still reached through /proc.
std::string ExecutablePathToRestart();

}  // namespace quillon
