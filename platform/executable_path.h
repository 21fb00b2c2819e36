#pragma once

#include <string>

// The folder that holds the running program's executable file (empty if it cannot be told).
std::string ExecutableDirectory();
