#pragma once

#include <string>

// The full path of the running program's executable file, UTF-8 (empty if it cannot be told).
std::string ExecutablePath();

// The folder that holds the running program's executable file (empty if it cannot be told).
std::string ExecutableDirectory();
