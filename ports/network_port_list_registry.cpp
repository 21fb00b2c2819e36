#include "ports/network_port_list.h"
#include "ports/win32_registry.h"

namespace quillon {

// Windows keeps the list beside the window's settings, in the user's part of the registry.
namespace {

constexpr RegistryKey kCurrentUser = 0x80000001u;
constexpr const char* kSettingsKey = "Software\\Brenwick\\Quillon\\Settings";
constexpr const char* kValueName = "NetworkPorts";

}  // namespace

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

}  // namespace quillon
