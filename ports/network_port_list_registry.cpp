#include <algorithm>

#include "platform/regular_file.h"
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

NetworkPortList ReadNetworkPortList() {
    Win32Registry registry;
    RegistryKey key = 0;
    if (registry.OpenKey(kCurrentUser, kSettingsKey, RegistryAccess::kRead, key) != kErrorSuccess) {
        return {};
    }
    std::string text;
    std::uint32_t size = 0;
    NetworkPortList list;
    const ComPortError status = registry.QueryValue(key, kValueName, nullptr, size);
    if (status == kErrorSuccess && size > kNetworkPortListLimit) {
        list.notes.push_back(NetworkPortListLocation() + " is larger than " +
                             ByteCountText(kNetworkPortListLimit) + ": its ports are not listed");
    } else if (status == kErrorSuccess && size > 0) {
        text.resize(size);
        if (registry.QueryValue(key, kValueName, reinterpret_cast<std::uint8_t*>(text.data()),
                                size) == kErrorSuccess) {
            text.resize(std::min<std::size_t>(size, text.size()));
            // Only the string's terminating NULs end it; one inside belongs to a name.
            while (!text.empty() && text.back() == '\0') {
                text.pop_back();
            }
            list = ParseNetworkPortList(text, NetworkPortListLocation());
        } else {
            list.notes.push_back(NetworkPortListLocation() +
                                 " cannot be read: its ports are not listed");
        }
    }
    registry.CloseKey(key);
    return list;
}

}  // namespace quillon
