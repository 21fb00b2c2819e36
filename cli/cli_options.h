#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the command line asks for.
struct CliOptions {
    bool help = false;
    bool version = false;
    bool listPorts = false;
    bool listTargets = false;
    bool initOnly = false;
    bool eraseAll = false;
    std::string port;
    std::int32_t baud = 57600;
    std::string target;       // display name, from the targets folder
    std::string monitorFile;  // or the monitor file itself
    std::string targetsFolder;
    std::string image;
    std::string record;  // the production record file (JSON Lines), empty: none

    // True when a job (Initialize, and Start Download unless initOnly) is to run.
    bool RunsJob() const { return !listPorts && !listTargets; }
};

// Parses the arguments after the program name. On a usage error returns false with the
// reason in `error`.
bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& options, std::string& error);

std::string CliUsageText();
