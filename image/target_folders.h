#pragma once

#include <functional>
#include <string>
#include <vector>

#include "image/monitor_file_catalog.h"

namespace quillon {

// Where the programs look for monitor files and for files they ship (the help PDF), so that
// the build folder, the Windows folder layout and an installed Linux tree all work:
//   1. beside the program (the build folder and Windows: "Targets" next to the .exe),
//   2. relative to the program in the installed tree: ../share/quillon/Targets,
//   3. the folder for monitor files that users add: $XDG_DATA_HOME/quillon/Targets, by
//      default ~/.local/share/quillon/Targets; on Windows, where the program folder is
//      read-only for its users once installed, %ProgramData%\Quillon\Targets, which every
//      user of the machine may add to.
// Only folders that exist take part. The target list shows the union of their files; a target
// name from the user's folder hides the same name (letter case ignored) from the others.

struct TargetFolders {
    std::vector<std::string> system;  // steps 1 and 2, in this order
    std::string user;                 // step 3; empty when it does not exist
};

// The user's folder for monitor files from `xdgDataHome` and `home` (the environment's
// values; either may be empty). Empty when neither is set.
std::string UserTargetsFolder(const std::string& xdgDataHome, const std::string& home);

// The existing folders for the program in `programDirectory`, the users' folder taken from
// the environment (XDG) or the machine's shared data folder (Windows).
TargetFolders FindTargetFolders(const std::string& programDirectory);

// The first existing file of `programDirectory`/`fileName`, then
// `programDirectory`/../share/doc/quillon/`fileName` and ../share/quillon/`fileName`; empty
// when none exists.
std::string FindShippedFile(const std::string& programDirectory, const std::string& fileName);

// A system entry hidden by a user entry of the same name.
struct HiddenTarget {
    MonitorFileEntry hidden;
    MonitorFileEntry by;
};

// The user's entries and the system entries whose name no user entry carries, sorted as
// ListMonitorFiles sorts. Each system entry left out is added to `hidden` when given.
std::vector<MonitorFileEntry> MergeTargetLists(const std::vector<MonitorFileEntry>& system,
                                               const std::vector<MonitorFileEntry>& user,
                                               std::vector<HiddenTarget>* hidden);

// The monitor files of all of `folders`, merged as above.
std::vector<MonitorFileEntry> ListTargetFolders(const TargetFolders& folders,
                                                std::vector<HiddenTarget>* hidden,
                                                const ReaderMessageSink& onMessage = nullptr);

}  // namespace quillon
