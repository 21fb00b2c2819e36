#include <algorithm>

#include "platform/regular_file.h"
#include "platform/system_registry.h"
#include "ports/network_port_list.h"

namespace quillon {

// Windows keeps the list beside the window's settings, in the user's part of the registry.
namespace {

constexpr const char* kSettingsKey = "Software\\Brenwick\\Quillon\\Settings";
constexpr const char* kValueName = "NetworkPorts";

}  // namespace

std::string NetworkPortListLocation() {
    return std::string("HKEY_CURRENT_USER\\") + kSettingsKey + "\\" + kValueName;
}

NetworkPortList ReadNetworkPortList() {
    SystemRegistry registry;
    RegistryKey key = 0;
    const Result<RegistryReply> opened =
        registry.OpenKey(Registry::kCurrentUser, kSettingsKey, RegistryAccess::kRead, key);
    if (!opened || *opened != RegistryReply::kDone) {
        return {};
    }
    std::string text;
    std::uint32_t size = 0;
    NetworkPortList list;
    const Result<RegistryReply> sized = registry.QueryValue(key, kValueName, nullptr, size);
    const bool found = sized && *sized == RegistryReply::kDone;
    if (found && size > kNetworkPortListLimit) {
        list.notes.push_back(NetworkPortListLocation() + " is larger than " +
                             ByteCountText(kNetworkPortListLimit) + ": its ports are not listed");
    } else if (found && size > 0) {
        text.resize(size);
        const Result<RegistryReply> read = registry.QueryValue(
            key, kValueName, reinterpret_cast<std::uint8_t*>(text.data()), size);
        if (read && *read == RegistryReply::kDone) {
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
