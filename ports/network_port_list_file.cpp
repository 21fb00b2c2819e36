#include "helpers/text_format.h"
#include "platform/environment.h"
#include "platform/regular_file.h"
#include "ports/network_port_list.h"

namespace quillon {

// The list is a file in the user's configuration folder.
std::string NetworkPortListLocation() {
    const XdgEnvironment xdg = ReadXdgEnvironment();
    if (!xdg.configHome.empty() && xdg.configHome[0] == '/') {
        return xdg.configHome + "/quillon/ports";
    }
    return xdg.home + "/.config/quillon/ports";
}

NetworkPortList ReadNetworkPortList() {
    const std::string location = NetworkPortListLocation();
    const FileRead read = ReadRegularFile(location, kNetworkPortListLimit);
    if (!read && read.error().kind == ErrorKind::kNotFound) {
        return {};  // nothing listed
    }
    if (!read) {
        NetworkPortList list;
        list.notes.push_back(EscapeForTerminal(location, false) + " " + read.error().text +
                             ": its ports are not listed");
        return list;
    }
    return ParseNetworkPortList(read->bytes, location);
}

}  // namespace quillon
