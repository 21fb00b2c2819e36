#pragma once

#include "ports/registry.h"

namespace quillon {

// The registry of the running Windows system, read through the wide Win32 registry calls: key
// paths, names and string data travel as UTF-8. Keys are opened below HKEY_LOCAL_MACHINE.
class Win32Registry : public Registry {
public:
    [[nodiscard]] ComPortError OpenKey(RegistryKey parent, const char* subKey,
                                       RegistryAccess access, RegistryKey& key) override;
    [[nodiscard]] ComPortError EnumKey(RegistryKey key, std::uint32_t index, char* name,
                                       std::uint32_t& nameChars) override;
    [[nodiscard]] ComPortError EnumValue(RegistryKey key, std::uint32_t index, char* name,
                                         std::uint32_t& nameChars, std::uint8_t* data,
                                         std::uint32_t& dataBytes) override;
    [[nodiscard]] ComPortError QueryValue(RegistryKey key, const char* name, std::uint8_t* data,
                                          std::uint32_t& dataBytes) override;
    ComPortError CloseKey(RegistryKey key) override;
};

}  // namespace quillon
