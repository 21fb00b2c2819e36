#pragma once

#include <cstdint>

#include "ports/com_port_error.h"

namespace quillon {

// An open registry key. Its value means something only to the Registry that handed it out.
using RegistryKey = std::uintptr_t;

enum class RegistryAccess {
    kEnumerateSubKeys,  // list subkeys only
    kRead,              // list subkeys and values, query values
};

// The few registry operations the port enumeration uses, with the Win32 calling conventions:
// every operation returns a system error code (kErrorSuccess, kErrorFileNotFound,
// kErrorMoreData, kErrorNoMoreItems, ...) and sizes are passed in and out by reference.
class Registry {
public:
    // The root every path is opened from; always open, never closed.
    static constexpr RegistryKey kLocalMachine = 0x80000002u;

    virtual ~Registry() = default;

    // Opens `subKey` (a path with backslashes, letter case ignored) below `parent`.
    [[nodiscard]] virtual ComPortError OpenKey(RegistryKey parent, const char* subKey,
                                               RegistryAccess access, RegistryKey& key) = 0;

    // The name of the `index`-th subkey. `nameChars` holds the buffer's size in characters
    // (room for the terminator included) and returns the name's length without it.
    // kErrorMoreData when the name does not fit, kErrorNoMoreItems past the last subkey.
    [[nodiscard]] virtual ComPortError EnumKey(RegistryKey key, std::uint32_t index, char* name,
                                               std::uint32_t& nameChars) = 0;

    // Name and data of the `index`-th value. `nameChars` as for EnumKey; `dataBytes` holds the
    // data buffer's size and returns the data's size, also on kErrorMoreData.
    [[nodiscard]] virtual ComPortError EnumValue(RegistryKey key, std::uint32_t index, char* name,
                                                 std::uint32_t& nameChars, std::uint8_t* data,
                                                 std::uint32_t& dataBytes) = 0;

    // The data of the value `name`; kErrorFileNotFound when it does not exist, kErrorMoreData
    // with the needed size in `dataBytes` when the buffer is too small. String data need not
    // end with a terminator.
    [[nodiscard]] virtual ComPortError QueryValue(RegistryKey key, const char* name,
                                                  std::uint8_t* data, std::uint32_t& dataBytes) = 0;

    virtual ComPortError CloseKey(RegistryKey key) = 0;
};

}  // namespace quillon
