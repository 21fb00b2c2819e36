#include <fstream>
#include <sstream>

#include "platform/environment.h"
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

std::vector<NetworkPortEntry> ReadNetworkPortList() {
    std::ifstream file(NetworkPortListLocation(), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return ParseNetworkPortList(text.str());
}

}  // namespace quillon
