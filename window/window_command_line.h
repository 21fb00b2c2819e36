#pragma once

#include <string>
#include <vector>

namespace quillon {

// What the window program's command line asks for. It is read before any window or display
// is touched, so --help and --version answer on a machine without one.
struct WindowCommandLine {
    enum class Action {
        kOpen,        // open the window, with `imageFile` in the image file field when given
        kHelp,        // print WindowUsageText() on stdout, exit 0
        kVersion,     // print WindowVersionLine() on stdout, exit 0
        kUsageError,  // print `error` and the hint on stderr, exit 2
    };
    Action action = Action::kOpen;
    std::string imageFile;  // as given: a path or a file: URL; empty when none
    std::string error;
};

// `arguments` are the command line's arguments after the program's name. "-h"/"--help" and
// "--version" answer at once; any other argument that starts with '-' is a usage error; after
// "--" every argument is a file name. The first file name is the image file (a desktop's "open
// with" passes one).
WindowCommandLine ParseWindowCommandLine(const std::vector<std::string>& arguments);

// The help text and the version line, each ending with a line feed.
std::string WindowUsageText();
std::string WindowVersionLine();
// What a usage error prints on stderr: the error and where to find help.
std::string WindowUsageErrorText(const std::string& error);

// The process exit statuses of the answers above.
inline constexpr int kWindowExitUsage = 2;

}  // namespace quillon
