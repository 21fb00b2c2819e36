#pragma once

#include <string>
#include <vector>

#include "helpers/result.h"

namespace quillon {

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
};

// `arguments` are the command line's arguments after the program's name. "-h"/"--help" and
// "--version" answer at once; any other argument that starts with '-' is an error of kind
// kUsage ("unknown option -x"); after "--" every argument is a file name. The first file name
// is the image file (a desktop's "open with" passes one).
[[nodiscard]] Result<WindowCommandLine> ParseWindowCommandLine(
    const std::vector<std::string>& arguments);

// The help text and the version line, each ending with a line feed.
std::string WindowUsageText();
std::string WindowVersionLine();
// What a usage error prints on stderr: the error and where to find help.
std::string WindowUsageErrorText(const std::string& error);

// The process exit status for a command line that failed with `error`: 2 for a usage error.
int WindowExitStatus(const Error& error);

}  // namespace quillon
