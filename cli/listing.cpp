#include "cli/listing.h"

#include <cstdint>
#include <cstdio>

#include "cli/exit_status.h"
#include "cli/target_choice.h"
#include "helpers/text_format.h"
#include "ports/com_ports.h"

namespace quillon {

namespace {

// Friendly names come from the devices' own descriptors.
void PrintPort(CliConsole& console, const PortEntry& port) {
    console.Output(EscapeForTerminal(port.name, false) + "\t" +
                   EscapeForTerminal(port.description, false) + "\n");
}

}  // namespace

int PrintListings(const CliOptions& options, const TargetFolders& targetFolders,
                  CliConsole& console) {
    int status = kExitSuccess;
    if (options.listPorts) {
        // The lines of the user's list that were left out, and why, on stderr.
        std::vector<std::string> notes;
        std::vector<PortEntry> ports;
        const Status listed = EnumerateComPorts(ports, &notes);
        for (const PortEntry& port : ports) {
            PrintPort(console, port);
        }
        if (!listed) {
            // The error's text carries the system's code ("error 5").
            std::fprintf(stderr, "quillon-cli: the serial ports could not be listed (%s)\n",
                         listed.error().text.c_str());
            status = kExitJobFailed;
        }
        for (const std::string& note : notes) {
            console.Message("quillon-cli: " + note);
        }
    }
    if (options.listTargets) {
        std::vector<HiddenTarget> hidden;
        for (const MonitorFileEntry& entry : ListTargets(targetFolders, console, &hidden)) {
            console.Output(EscapeForTerminal(entry.displayName, false) + "\t" +
                           EscapeForTerminal(entry.path, false) + "\n");
        }
        for (const HiddenTarget& h : hidden) {
            console.Message("quillon-cli: " + h.hidden.path + " is not listed: " + h.by.path +
                            " in the user's folder has the name '" + h.hidden.displayName +
                            "' too and is taken instead");
        }
    }
    return status;
}

}  // namespace quillon
