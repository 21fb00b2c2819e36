#include "window/window_command_line.h"

#include <algorithm>
#include <utility>

#include "helpers/ascii_case.h"
#include "helpers/option_table.h"
#include "helpers/text_format.h"
#include "window/window_lists.h"

namespace quillon {

namespace {

Status Refused(std::string text) {
    return Fail(ErrorKind::kUsage, std::move(text));
}

// The usage error for a rate the window's list does not hold: `listed` names those it does.
Status NotListedRate(const std::string& value, const std::vector<BaudRate>& listed) {
    return Refused("baud rate '" + value + "' is not one of " + BaudRateListText(", ", listed));
}

// Takes a name that may not be empty into `into`.
Option::Taker Name(const char* option, std::optional<std::string>& into) {
    return [option, &into](const std::string& value) {
        if (value.empty()) {
            return Refused(std::string(option) + " needs a name");
        }
        into = value;
        return Status();
    };
}

}  // namespace

Result<WindowCommandLine> ParseWindowCommandLine(const std::vector<std::string>& arguments) {
    using V = Option::Value;
    WindowCommandLine result;
    StartSelection& selection = result.selection;
    const auto answer = [&result](WindowCommandLine::Action action) {
        return [&result, action](const std::string&) {
            // The first of --help and --version counts.
            if (result.action == WindowCommandLine::Action::kOpen) {
                result.action = action;
            }
            return Status();
        };
    };
    const std::vector<Option> table = {
        {"--help", "-h", V::kNone, answer(WindowCommandLine::Action::kHelp)},
        {"--version", "", V::kNone, answer(WindowCommandLine::Action::kVersion)},
        {"--production", "", V::kNone,
         [&result](const std::string&) {
             result.production = true;
             return Status();
         }},
        {"--port", "", V::kRequired, Name("--port", selection.port)},
        {"--target", "", V::kRequired, Name("--target", selection.target)},
        {"--baud", "", V::kRequired,
         [&selection](const std::string& value) {
             // A rate in its decimal text; whether the list holds it is known only with the
             // settings (CheckListedBaudRate).
             selection.baudRate = ParseBaudRate(value);
             if (selection.baudRate && BaudRateText(*selection.baudRate) == value) {
                 return Status();
             }
             selection.baudRate.reset();
             return NotListedRate(value, ListedBaudRates({}));
         }},
    };
    Result<std::vector<std::string>> files = ParseOptions(arguments, table, OptionWording{});
    if (result.action != WindowCommandLine::Action::kOpen) {
        // Asked for before any mistake: the answer, whatever follows.
        return WindowCommandLine{result.action, {}, {}, false};
    }
    if (!files) {
        return Fail(std::move(files).error());
    }
    if (result.production && selection != StartSelection{}) {
        return Fail(ErrorKind::kUsage, "--production takes no --port, --target or --baud");
    }
    if (!files->empty()) {
        result.imageFile = files->front();
    }
    return result;
}

Result<std::string> ListedTargetName(const std::vector<MonitorFileEntry>& entries,
                                     const std::string& name) {
    std::string known;
    for (const MonitorFileEntry& entry : entries) {
        if (EqualIgnoringCase(entry.displayName, name)) {
            return entry.displayName;
        }
        known += (known.empty() ? "" : ", ") + EscapeForTerminal(entry.displayName, false);
    }
    // Names from the command line and from monitor files, shown on a terminal.
    return Fail(ErrorKind::kUsage, "unknown target '" + EscapeForTerminal(name, false) +
                                       "'; known targets: " + (known.empty() ? "none" : known));
}

Status CheckListedBaudRate(const StartSelection& selection, const std::vector<BaudRate>& added) {
    const std::vector<BaudRate> listed = ListedBaudRates(added);
    if (!selection.baudRate ||
        std::find(listed.begin(), listed.end(), *selection.baudRate) != listed.end()) {
        return {};
    }
    return NotListedRate(BaudRateText(*selection.baudRate), listed);
}

Status TakeListedTarget(StartSelection& selection, const TargetFolders& folders) {
    if (!selection.target) {
        return {};
    }
    Result<std::string> listed =
        ListedTargetName(ListTargetFolders(folders, nullptr), *selection.target);
    if (!listed) {
        return Fail(std::move(listed).error());
    }
    selection.target = std::move(*listed);
    return {};
}

std::string WindowNoDisplayText() {
    return "quillon: no display was found to open the window on.\n"
           "quillon-cli does the same jobs on a terminal: see quillon-cli --help\n";
}

std::string WindowUsageText() {
    return "Usage: quillon [OPTION] [IMAGE-FILE]\n"
           "Opens the Quillon window, which initializes a target through its serial bootstrap\n"
           "loader and downloads an Intel HEX image into its flash. IMAGE-FILE (a path or a\n"
           "file: URL) goes into the window's image file field.\n"
           "\n"
           "  -h, --help         print this help, exit 0\n"
           "      --version      print the version line, exit 0\n"
           "      --port PORT    select PORT in the port list\n"
           "      --target NAME  select the target NAME (letter case ignored)\n"
           "      --baud RATE    select RATE: " +
           BaudRateListText(", ") +
           " or a rate added in\n"
           "                     Options\n"
           "      --production   open the production view in place of the main window, with\n"
           "                     IMAGE-FILE in its setup: several stations, board after board\n"
           "  --                 what follows is the image file, even if it starts with '-'\n"
           "\n"
           "--port, --target and --baud hold for this start only: the window keeps the saved\n"
           "choices as they were. An unknown target or rate is an error (exit 2); a port\n"
           "that is not present is named in the log, and none is selected.\n"
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
