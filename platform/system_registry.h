#pragma once

#include <cstdint>
#include <string>

#include "helpers/result.h"
#include "platform/registry.h"

namespace quillon {

// A value of the registry as a program's settings hold it.
struct RegistryValue {
    enum class Type { kText, kInteger, kOther };
    Type type = Type::kOther;
    std::string text;         // kText (REG_SZ, REG_EXPAND_SZ): UTF-8, up to the first NUL
    std::int64_t number = 0;  // kInteger: a REG_DWORD (signed 32 bits) or a REG_QWORD
};

// The registry of the running Windows system, through the wide Win32 registry calls: key
// paths, names and string data travel as UTF-8, so that a description such as "Prüfadapter"
// reads the same whatever the system's 8-bit code page is. Besides the calls of Registry, the
// few a program's settings need. Only on Windows.
class SystemRegistry : public Registry {
public:
    Result<RegistryReply> OpenKey(RegistryKey parent, const char* subKey, RegistryAccess access,
                                  RegistryKey& key) override;
    Result<RegistryReply> EnumKey(RegistryKey key, std::uint32_t index, char* name,
                                  std::uint32_t& nameChars) override;
    Result<RegistryReply> EnumValue(RegistryKey key, std::uint32_t index, char* name,
                                    std::uint32_t& nameChars, std::uint8_t* data,
                                    std::uint32_t& dataBytes) override;
    Result<RegistryReply> QueryValue(RegistryKey key, const char* name, std::uint8_t* data,
                                     std::uint32_t& dataBytes) override;
    void CloseKey(RegistryKey key) override;

    // Opens `subKey` below `root` to query its values only; kNotFound where it does not exist.
    [[nodiscard]] Result<RegistryKey> OpenForQuery(RegistryKey root, const std::string& subKey);
    // Opens `subKey` below `root` to set values, creating it and any key above it.
    [[nodiscard]] Result<RegistryKey> CreateForWriting(RegistryKey root, const std::string& subKey);
    // The value `name` with its type; kNotFound where it does not exist, kInvalidData for an
    // integer shorter than its type.
    [[nodiscard]] Result<RegistryValue> ReadValue(RegistryKey key, const std::string& name);
    // Sets `name` to `text` as a REG_SZ, its terminating NUL counted in the size.
    [[nodiscard]] Status WriteText(RegistryKey key, const std::string& name,
                                   const std::string& text);
    // Sets `name` to `number` as a REG_DWORD.
    [[nodiscard]] Status WriteInteger(RegistryKey key, const std::string& name,
                                      std::int32_t number);
};

}  // namespace quillon
