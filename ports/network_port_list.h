#pragma once

#include <string>
#include <vector>

namespace quillon {

// The network serial ports a user has listed for the window's port list and --list-ports:
// one per line, a name, a tab, the port's URL ("Bench 3<TAB>rfc2217://10.0.0.5:7001"). Lines
// that are empty, start with '#' or have no tab are passed over.
struct NetworkPortEntry {
    std::string name;
    std::string url;
};

std::vector<NetworkPortEntry> ParseNetworkPortList(const std::string& text);

// Where the list is kept. Linux and other POSIX systems: the file
// $XDG_CONFIG_HOME/quillon/ports (an absolute XDG_CONFIG_HOME only; else ~/.config/quillon/ports).
// Windows: the value "NetworkPorts" of HKEY_CURRENT_USER\Software\Brenwick\Quillon\Settings.
std::string NetworkPortListLocation();

// The user's list; empty when there is none or it cannot be read.
std::vector<NetworkPortEntry> ReadNetworkPortList();

}  // namespace quillon
