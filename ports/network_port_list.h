#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quillon {

// The ports a user has listed for the window's port list and --list-ports, mostly network
// serial ports: one per line, a name, a tab and the port ("Bench 3<TAB>rfc2217://10.0.0.5:7001",
// or a local device's name), or the URL of a network port alone, which is then its name too.
// Empty lines and lines that start with '#' are passed over; white space around the name and
// the port is not theirs.
struct NetworkPortEntry {
    std::string name;  // as written, control characters (a NUL too) included
    std::string port;  // what opens it: a network port's URL, or a local device's name
    bool network = false;
};

struct NetworkPortList {
    std::vector<NetworkPortEntry> entries;
    // Why the list, or a line of it, was left out, naming where: a line that is no well-formed
    // entry (a malformed URL, no port, a control character in the port), a file that is not
    // a regular file or is too large. Control characters come escaped.
    std::vector<std::string> notes;
};

// The most a list may hold.
inline constexpr std::size_t kNetworkPortListLimit = std::size_t{1} << 20;

// Reads the list's `text`; `location` names it in the notes.
[[nodiscard]] NetworkPortList ParseNetworkPortList(const std::string& text,
                                                   const std::string& location);

// Where the list is kept. Linux and other POSIX systems: the file
// $XDG_CONFIG_HOME/quillon/ports (an absolute XDG_CONFIG_HOME only; else ~/.config/quillon/ports).
// Windows: the value "NetworkPorts" of HKEY_CURRENT_USER\Software\Brenwick\Quillon\Settings.
std::string NetworkPortListLocation();

// The user's list; no entries when there is none. A file is read only when it is a regular
// file of at most kNetworkPortListLimit bytes, and its open never blocks (a FIFO, a device);
// otherwise its notes say why it was not read.
[[nodiscard]] NetworkPortList ReadNetworkPortList();

}  // namespace quillon
