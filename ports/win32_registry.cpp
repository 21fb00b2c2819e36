#include "ports/win32_registry.h"

#include <windows.h>

namespace quillon {

namespace {

HKEY ToHandle(RegistryKey key) {
    return key == Registry::kLocalMachine ? HKEY_LOCAL_MACHINE : reinterpret_cast<HKEY>(key);
}

ComPortError ToError(LONG status) {
    return static_cast<ComPortError>(status);
}

}  // namespace

ComPortError Win32Registry::QueryVersion(SystemVersion& version) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    // GetVersionExA is marked deprecated by newer SDKs; it still answers what is needed here:
    // the platform family and a major version of at least 5 on every current system. Windows
    // 8.1 and later report 6.2 to a program without a compatibility manifest (10 with one),
    // Wine reports 6.1; each of these chooses the device tree, so no manifest is needed.
#if defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4996)
#elif defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    const BOOL ok = GetVersionExA(&info);
#if defined(_MSC_VER)
#pragma warning(pop)
#elif defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    if (!ok) {
        return static_cast<ComPortError>(GetLastError());
    }
    version.platformId = info.dwPlatformId;
    version.majorVersion = info.dwMajorVersion;
    return kErrorSuccess;
}

ComPortError Win32Registry::OpenKey(RegistryKey parent, const char* subKey, RegistryAccess access,
                                    RegistryKey& key) {
    const REGSAM desired = access == RegistryAccess::kRead ? KEY_READ : KEY_ENUMERATE_SUB_KEYS;
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExA(ToHandle(parent), subKey, 0, desired, &opened);
    if (status == ERROR_SUCCESS) {
        key = reinterpret_cast<RegistryKey>(opened);
    }
    return ToError(status);
}

ComPortError Win32Registry::EnumKey(RegistryKey key, std::uint32_t index, char* name,
                                    std::uint32_t& nameChars) {
    DWORD chars = nameChars;
    const LONG status =
        RegEnumKeyExA(ToHandle(key), index, name, &chars, nullptr, nullptr, nullptr, nullptr);
    nameChars = chars;
    return ToError(status);
}

ComPortError Win32Registry::EnumValue(RegistryKey key, std::uint32_t index, char* name,
                                      std::uint32_t& nameChars, std::uint8_t* data,
                                      std::uint32_t& dataBytes) {
    DWORD chars = nameChars;
    DWORD bytes = dataBytes;
    const LONG status = RegEnumValueA(ToHandle(key), index, name, &chars, nullptr, nullptr,
                                      reinterpret_cast<LPBYTE>(data), &bytes);
    nameChars = chars;
    dataBytes = bytes;
    return ToError(status);
}

ComPortError Win32Registry::QueryValue(RegistryKey key, const char* name, std::uint8_t* data,
                                       std::uint32_t& dataBytes) {
    DWORD bytes = dataBytes;
    const LONG status = RegQueryValueExA(ToHandle(key), name, nullptr, nullptr,
                                         reinterpret_cast<LPBYTE>(data), &bytes);
    dataBytes = bytes;
    return ToError(status);
}

ComPortError Win32Registry::CloseKey(RegistryKey key) {
    if (key == Registry::kLocalMachine) {
        return kErrorSuccess;  // the predefined root is never closed
    }
    return ToError(RegCloseKey(ToHandle(key)));
}

}  // namespace quillon
