#pragma once

#include <cstdint>

#include "helpers/result.h"

namespace quillon {

// An open registry key. Its value means something only to the Registry that handed it out.
using RegistryKey = std::uintptr_t;

enum class RegistryAccess {
    kEnumerateSubKeys,  // list subkeys only
    kRead,              // list subkeys and values, query values
};

// How a registry call that did not fail ended.
enum class RegistryReply {
    kDone,
    kMissing,      // the key or value does not exist
    kMoreData,     // the buffer is too small (the size needed is reported where the call says)
    kNoMoreItems,  // the index is past the last subkey or value
};

// The registry operations the port list reads with, in the shape of the Win32 calls: buffers
// and their sizes are passed in and out by reference. Everything the calls do not answer with a
// reply is an error whose text is "error N" with the system's own code N (kind kAccessDenied for
// a refusal).
class Registry {
public:
    // The roots every path is opened from; always open, never closed.
    static constexpr RegistryKey kCurrentUser = 0x80000001u;
    static constexpr RegistryKey kLocalMachine = 0x80000002u;

    virtual ~Registry() = default;

    // Opens `subKey` (a path with backslashes, letter case ignored) below `parent`.
    virtual Result<RegistryReply> OpenKey(RegistryKey parent, const char* subKey,
                                          RegistryAccess access, RegistryKey& key) = 0;

    // The name of the `index`-th subkey. `nameChars` holds the buffer's size in characters
    // (room for the terminator included) and returns the name's length without it.
    // kMoreData when the name does not fit, kNoMoreItems past the last subkey.
    virtual Result<RegistryReply> EnumKey(RegistryKey key, std::uint32_t index, char* name,
                                          std::uint32_t& nameChars) = 0;

    // Name and data of the `index`-th value. `nameChars` as for EnumKey; `dataBytes` holds the
    // data buffer's size and returns the data's size, also on kMoreData.
    virtual Result<RegistryReply> EnumValue(RegistryKey key, std::uint32_t index, char* name,
                                            std::uint32_t& nameChars, std::uint8_t* data,
                                            std::uint32_t& dataBytes) = 0;

    // The data of the value `name`; kMissing when it does not exist, kMoreData with the needed
    // size in `dataBytes` when the buffer is too small. String data need not end with a
    // terminator. Without a buffer only the size is asked for.
    virtual Result<RegistryReply> QueryValue(RegistryKey key, const char* name, std::uint8_t* data,
                                             std::uint32_t& dataBytes) = 0;

    // Closing a key that is open cannot fail in a way its caller could mend.
    virtual void CloseKey(RegistryKey key) = 0;
};

}  // namespace quillon
