#pragma once

#include <string>
#include <vector>

#include "helpers/result.h"
#include "sim/sim_server.h"
#include "sim/sim_settings.h"

namespace quillon {

struct SimCommandLine {
    bool help = false;
    bool version = false;
    std::string monitorPath;  // empty: Targets/virtual-target.h86 beside the executable
    bool linkGiven = false;   // false: a link in the per-user virtual port folder
    TargetSettings settings;
    SimServerOptions server;  // linkPath as given ("none" is turned into no link)
    std::string reportPath;   // "-": standard output
    std::string dumpPath;
};

// Parses the arguments after the program name. "--name value" and "--name=value" both work;
// an error of kind kUsage says what is wrong.
[[nodiscard]] Result<SimCommandLine> ParseSimCommandLine(const std::vector<std::string>& args);

std::string SimHelpText();

}  // namespace quillon
