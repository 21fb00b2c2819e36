#include "ports/network_port_list.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include "ports/win32_registry.h"
#endif

namespace {

#ifdef _WIN32
constexpr RegistryKey kCurrentUser = 0x80000001u;
constexpr const char* kSettingsKey = "Software\\Brenwick\\Quillon\\Settings";
constexpr const char* kValueName = "NetworkPorts";
#endif

}  // namespace

std::vector<NetworkPortEntry> ParseNetworkPortList(const std::string& text) {
    std::vector<NetworkPortEntry> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::size_t tab = line.find('\t');
        if (line.empty() || line.front() == '#' || tab == std::string::npos) {
            continue;
        }
        NetworkPortEntry entry{line.substr(0, tab), line.substr(tab + 1)};
        if (!entry.url.empty()) {
            entries.push_back(std::move(entry));
        }
    }
    return entries;
}

#ifdef _WIN32

std::string NetworkPortListLocation() {
    return std::string("HKEY_CURRENT_USER\\") + kSettingsKey + "\\" + kValueName;
}

std::vector<NetworkPortEntry> ReadNetworkPortList() {
    Win32Registry registry;
    RegistryKey key = 0;
    if (registry.OpenKey(kCurrentUser, kSettingsKey, RegistryAccess::kRead, key) != kErrorSuccess) {
        return {};
    }
    std::string text;
    std::uint32_t size = 0;
    if (registry.QueryValue(key, kValueName, nullptr, size) == kErrorSuccess && size > 0 &&
        size <= (1u << 20)) {
        text.resize(size);
        if (registry.QueryValue(key, kValueName, reinterpret_cast<std::uint8_t*>(text.data()),
                                size) != kErrorSuccess) {
            text.clear();
        }
        text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    }
    registry.CloseKey(key);
    return ParseNetworkPortList(text);
}

#else

std::string NetworkPortListLocation() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return std::string(config) + "/quillon/ports";
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config/quillon/ports";
}

std::vector<NetworkPortEntry> ReadNetworkPortList() {
    std::ifstream file(NetworkPortListLocation(), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return ParseNetworkPortList(text.str());
}

#endif
