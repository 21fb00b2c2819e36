#include <windows.h>

#include <algorithm>
#include <cwctype>

#include "platform/device_node.h"
#include "platform/utf8_path.h"

namespace quillon {

namespace {

// "COM3", "com3" and "\\.\COM3" name one port.
std::wstring PortKey(const std::string& port) {
    std::wstring key = PathFromUtf8(port).wstring();
    if (key.rfind(L"\\\\.\\", 0) == 0) {
        key.erase(0, 4);
    }
    std::transform(key.begin(), key.end(), key.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    return key;
}

}  // namespace

bool LocalPortPresent(const std::string& port) {
    wchar_t target[1024];
    return ::QueryDosDeviceW(PortKey(port).c_str(), target, 1024) != 0;
}

bool LocalPortsAreOneDevice(const std::string& a, const std::string& b) {
    return PortKey(a) == PortKey(b) && LocalPortPresent(a);
}

bool LocalPortNamesMatch(const std::string& a, const std::string& b) {
    return PortKey(a) == PortKey(b);
}

}  // namespace quillon
