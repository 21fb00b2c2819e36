#pragma once

#include <string>
#include <vector>

#include "cli/cli_console.h"
#include "helpers/result.h"
#include "image/monitor_file_catalog.h"
#include "image/target_folders.h"

namespace quillon {

// The monitor files of `folders`; each message of the reader names its file. Files of the
// system folders hidden by a file of the user's folder go into `hidden`.
std::vector<MonitorFileEntry> ListTargets(const TargetFolders& folders, CliConsole& console,
                                          std::vector<HiddenTarget>* hidden = nullptr);

// The monitor file of the target named `name`: the one whose name equals it (letter case
// ignored), else the only one whose name begins with it. Several files under one name are
// a usage error: which one is meant cannot be told, and guessing could flash the wrong monitor.
[[nodiscard]] Result<MonitorFileEntry> ResolveTarget(const std::vector<MonitorFileEntry>& entries,
                                                     const std::string& name);

}  // namespace quillon
