#pragma once

#include <optional>
#include <string>
#include <vector>

#include "helpers/result.h"
#include "image/monitor_file_catalog.h"
#include "image/target_folders.h"
#include "platform/baud_rate.h"

namespace quillon {

// What the command line selects in the window's lists for this start only: each one given is
// selected in place of the saved one and never written back to the settings, so that windows
// started for different fixtures do not overwrite each other's choices.
struct StartSelection {
    std::optional<std::string> target;  // a target's display name
    std::optional<std::string> port;    // a port name as the port list shows it
    std::optional<BaudRate> baudRate;   // one of the list's rates (CheckListedBaudRate)
    bool operator==(const StartSelection&) const = default;
};

// What the window program's command line asks for. It is read before any window or display
// is touched, so --help and --version answer on a machine without one.
struct WindowCommandLine {
    enum class Action {
        kOpen,     // open the window, with `imageFile` in the image file field when given
        kHelp,     // print WindowUsageText() on stdout, exit 0
        kVersion,  // print WindowVersionLine() on stdout, exit 0
    };
    Action action = Action::kOpen;
    std::string imageFile;  // as given: a path or a file: URL; empty when none
    StartSelection selection = {};
    // --production: the production view opens in place of the main window, `imageFile` in its
    // setup.
    bool production = false;
};

// `arguments` are the command line's arguments after the program's name. "-h"/"--help" and
// "--version" answer, unless an error came before them; "--port PORT", "--target NAME" and
// "--baud RATE" (also as "--name=VALUE") select for this start; "--production" opens the
// production view, and takes none of those three; a --baud value that is no rate in its
// decimal text (ParseBaudRate), an empty value and any other argument that starts with '-'
// are errors of kind kUsage ("unknown option -x"); after "--" every argument is a file name. The
// first file name is the image file (a desktop's "open with" passes one).
[[nodiscard]] Result<WindowCommandLine> ParseWindowCommandLine(
    const std::vector<std::string>& arguments);

// Whether the window's baud rate list holds the command line's rate: an offered one or one of
// `added` (the rates the Options dialog added, as the settings keep them); else a usage error
// that names the listed rates. Checked before the window opens; nothing to do without a rate.
[[nodiscard]] Status CheckListedBaudRate(const StartSelection& selection,
                                         const std::vector<BaudRate>& added);

// The listed display name of the target `name` names (letter case ignored), or a usage error
// that lists the known targets. Checked before the window opens.
[[nodiscard]] Result<std::string> ListedTargetName(const std::vector<MonitorFileEntry>& entries,
                                                   const std::string& name);

// Puts the listed display name in place of the command line's target name, reading the
// monitor files of `folders` (their reader texts are left to the window, which reads them
// again); a usage error for a name not listed. Nothing to do without a target.
[[nodiscard]] Status TakeListedTarget(StartSelection& selection, const TargetFolders& folders);

// What the window program prints on stderr, and exits with status 2, when it finds no display
// to open its window on.
std::string WindowNoDisplayText();

// The help text and the version line, each ending with a line feed.
std::string WindowUsageText();
std::string WindowVersionLine();
// What a usage error prints on stderr: the error and where to find help.
std::string WindowUsageErrorText(const std::string& error);

// The process exit status for a command line that failed with `error`: 2 for a usage error.
int WindowExitStatus(const Error& error);

}  // namespace quillon
