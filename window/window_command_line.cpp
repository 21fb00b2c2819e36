#include "window/window_command_line.h"

namespace quillon {

Result<WindowCommandLine> ParseWindowCommandLine(const std::vector<std::string>& arguments) {
    WindowCommandLine result;
    bool filesOnly = false;
    for (const std::string& argument : arguments) {
        if (!filesOnly && argument == "--") {
            filesOnly = true;
        } else if (!filesOnly && (argument == "-h" || argument == "--help")) {
            return WindowCommandLine{WindowCommandLine::Action::kHelp, {}};
        } else if (!filesOnly && argument == "--version") {
            return WindowCommandLine{WindowCommandLine::Action::kVersion, {}};
        } else if (!filesOnly && argument.size() > 1 && argument.front() == '-') {
            // Reported at once, even before a --help further on: the operator mistyped.
            return Fail(ErrorKind::kUsage, "unknown option " + argument);
        } else if (result.imageFile.empty()) {
            result.imageFile = argument;
        }
    }
    return result;
}

std::string WindowUsageText() {
    return "Usage: quillon [OPTION] [IMAGE-FILE]\n"
           "Opens the Quillon window, which initializes a target through its serial bootstrap\n"
           "loader and downloads an Intel HEX image into its flash. IMAGE-FILE (a path or a\n"
           "file: URL) goes into the window's image file field.\n"
           "\n"
           "  -h, --help     print this help, exit 0\n"
           "      --version  print the version line, exit 0\n"
           "  --             what follows is the image file, even when it starts with '-'\n"
           "\n"
           "quillon-cli does the same without a window (quillon-cli --help).\n";
}

std::string WindowVersionLine() {
    return "Quillon Version " QUILLON_VERSION "\n";
}

std::string WindowUsageErrorText(const std::string& error) {
    return "quillon: " + error + "\nTry 'quillon --help' for more information.\n";
}

int WindowExitStatus(const Error& error) {
    return error.kind == ErrorKind::kUsage ? 2 : 1;
}

}  // namespace quillon
