#pragma once

#include "cli/cli_console.h"
#include "cli/cli_options.h"
#include "image/target_folders.h"

namespace quillon {

// --list-ports and --list-targets: one line per serial port ("portName<TAB>friendlyName") and
// per monitor file ("displayName<TAB>path") on stdout. Returns the exit status.
[[nodiscard]] int PrintListings(const CliOptions& options, const TargetFolders& targetFolders,
                                CliConsole& console);

}  // namespace quillon
