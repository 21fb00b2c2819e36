#include "cli/listing.h"

#include <cstdint>
#include <cstdio>

#include "cli/exit_status.h"
#include "cli/target_choice.h"
#include "helpers/text_format.h"
#include "ports/com_port_error.h"
#include "ports/com_ports.h"

namespace quillon {

namespace {

int ListPortCallback(std::uintptr_t console, const ComPortInfo* info) {
    // Friendly names come from the devices' own descriptors.
    reinterpret_cast<CliConsole*>(console)->Output(EscapeForTerminal(info->portName, false) + "\t" +
                                                   EscapeForTerminal(info->friendlyName, false) +
                                                   "\n");
    return 1;
}

}  // namespace

int PrintListings(const CliOptions& options, const TargetFolders& targetFolders,
                  CliConsole& console) {
    int status = kExitSuccess;
    if (options.listPorts) {
        // The lines of the user's list that were left out, and why, on stderr.
        std::vector<std::string> notes;
        if (EnumerateComPorts(ListPortCallback, reinterpret_cast<std::uintptr_t>(&console),
                              &notes) == 0) {
            std::fprintf(stderr, "quillon-cli: the serial ports could not be listed (error %lu)\n",
                         static_cast<unsigned long>(GetLastComPortError()));
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
