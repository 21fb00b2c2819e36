#include "ports/network_port_list.h"

#include <algorithm>

#include "helpers/text_format.h"
#include "ports/port_address.h"

namespace quillon {

namespace {

bool HasControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

// Why the port of a line cannot be listed, or empty. `bare`: the line holds nothing else.
std::string PortMistake(const std::string& port, bool bare, bool& network) {
    if (port.empty()) {
        return "no port after the tab";
    }
    if (HasControlCharacter(port)) {
        return "a control character in the port '" + EscapeForTerminal(port, false) + "'";
    }
    const Result<PortAddress> address = ParsePortAddress(port);
    if (!address) {
        return address.error().text;
    }
    network = address->IsNetwork();
    if (bare && !network) {
        return "neither NAME<TAB>PORT nor a network port's URL: '" + port + "'";
    }
    return {};
}

}  // namespace

NetworkPortList ParseNetworkPortList(const std::string& text, const std::string& location) {
    NetworkPortList list;
    std::size_t number = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        const std::string trimmed = TrimmedWhiteSpace(line);
        if (trimmed.empty() || trimmed.front() == '#') {
            continue;
        }
        const std::size_t tab = line.find('\t');
        const bool bare = tab == std::string::npos;
        NetworkPortEntry entry;
        entry.port = bare ? trimmed : TrimmedWhiteSpace(line.substr(tab + 1));
        entry.name = bare ? trimmed : TrimmedWhiteSpace(line.substr(0, tab));
        if (entry.name.empty()) {
            entry.name = entry.port;
        }
        if (const std::string mistake = PortMistake(entry.port, bare, entry.network);
            !mistake.empty()) {
            list.notes.push_back(EscapeForTerminal(location, false) + ": line " +
                                 std::to_string(number) + " left out: " + mistake);
            continue;
        }
        list.entries.push_back(std::move(entry));
    }
    return list;
}

}  // namespace quillon
