#include "ports/win32_registry.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/utf16_text.h"

namespace quillon {

// Names and string data are read with the wide calls and handed on as UTF-8, so that a
// description such as "Prüfadapter" reads the same whatever the system's 8-bit code page is.
// Sizes are those of the UTF-8 text: the walk sees the same contract as with 8-bit text.

namespace {

// How often a read is tried again when the value changed between asking its size and reading.
constexpr int kAttempts = 4;

HKEY ToHandle(RegistryKey key) {
    return key == Registry::kLocalMachine ? HKEY_LOCAL_MACHINE : reinterpret_cast<HKEY>(key);
}

ComPortError ToError(LONG status) {
    return static_cast<ComPortError>(status);
}

bool IsText(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The data as the caller receives it: text as UTF-8 (a terminator the registry stored stays
// one), anything else byte for byte.
std::string CallerData(DWORD type, const std::vector<BYTE>& data, DWORD bytes) {
    if (!IsText(type)) {
        return std::string(data.begin(), data.begin() + bytes);
    }
    std::wstring text(bytes / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    return Utf8FromUtf16(text);
}

// Copies `text` into a buffer of `room` bytes, with a terminator when there is room for one.
// False, with the size needed in `size`, when it does not fit.
bool Deliver(const std::string& text, std::uint8_t* buffer, std::uint32_t& size) {
    const std::uint32_t room = size;
    size = static_cast<std::uint32_t>(text.size());
    if (buffer == nullptr || text.size() > room) {
        return false;
    }
    std::memcpy(buffer, text.data(), text.size());
    if (text.size() < room) {
        buffer[text.size()] = 0;
    }
    return true;
}

// A name for a buffer of `chars` characters, terminator included.
ComPortError DeliverName(const std::wstring& name, char* buffer, std::uint32_t& chars) {
    const std::string text = Utf8FromUtf16(name);
    if (text.size() + 1 > chars) {
        return kErrorMoreData;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    chars = static_cast<std::uint32_t>(text.size());
    return kErrorSuccess;
}

// The longest value name and data of `key`, in characters and bytes.
LONG ValueLimits(HKEY key, DWORD& nameChars, DWORD& dataBytes) {
    return ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              &nameChars, &dataBytes, nullptr, nullptr);
}

}  // namespace

ComPortError Win32Registry::OpenKey(RegistryKey parent, const char* subKey, RegistryAccess access,
                                    RegistryKey& key) {
    const REGSAM desired = access == RegistryAccess::kRead ? KEY_READ : KEY_ENUMERATE_SUB_KEYS;
    HKEY opened = nullptr;
    const LONG status =
        ::RegOpenKeyExW(ToHandle(parent), Utf16FromUtf8(subKey).c_str(), 0, desired, &opened);
    if (status == ERROR_SUCCESS) {
        key = reinterpret_cast<RegistryKey>(opened);
    }
    return ToError(status);
}

ComPortError Win32Registry::EnumKey(RegistryKey key, std::uint32_t index, char* name,
                                    std::uint32_t& nameChars) {
    // A key's name has at most 255 characters.
    wchar_t wide[256] = {};
    DWORD chars = 256;
    const LONG status =
        ::RegEnumKeyExW(ToHandle(key), index, wide, &chars, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) {
        return ToError(status);
    }
    return DeliverName(std::wstring(wide, chars), name, nameChars);
}

ComPortError Win32Registry::EnumValue(RegistryKey key, std::uint32_t index, char* name,
                                      std::uint32_t& nameChars, std::uint8_t* data,
                                      std::uint32_t& dataBytes) {
    // A value that keeps growing between the calls is left to the caller's own retries.
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        DWORD longestName = 0;
        DWORD longestData = 0;
        if (const LONG status = ValueLimits(ToHandle(key), longestName, longestData);
            status != ERROR_SUCCESS) {
            return ToError(status);
        }
        std::vector<wchar_t> wideName(longestName + 1);
        std::vector<BYTE> wideData(longestData + sizeof(wchar_t));
        DWORD chars = static_cast<DWORD>(wideName.size());
        DWORD bytes = static_cast<DWORD>(wideData.size());
        DWORD type = 0;
        const LONG status = ::RegEnumValueW(ToHandle(key), index, wideName.data(), &chars, nullptr,
                                            &type, wideData.data(), &bytes);
        if (status == ERROR_MORE_DATA) {
            continue;  // a value grew since the limits were read
        }
        if (status != ERROR_SUCCESS) {
            return ToError(status);
        }
        if (const ComPortError error =
                DeliverName(std::wstring(wideName.data(), chars), name, nameChars);
            error != kErrorSuccess) {
            return error;
        }
        return Deliver(CallerData(type, wideData, bytes), data, dataBytes) ? kErrorSuccess
                                                                           : kErrorMoreData;
    }
    return kErrorMoreData;
}

ComPortError Win32Registry::QueryValue(RegistryKey key, const char* name, std::uint8_t* data,
                                       std::uint32_t& dataBytes) {
    const std::wstring wideName = Utf16FromUtf8(name);
    std::vector<BYTE> wideData;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        DWORD bytes = static_cast<DWORD>(wideData.size());
        DWORD type = 0;
        const LONG status =
            ::RegQueryValueExW(ToHandle(key), wideName.c_str(), nullptr, &type,
                               wideData.empty() ? nullptr : wideData.data(), &bytes);
        if (status == ERROR_MORE_DATA ||
            (status == ERROR_SUCCESS && wideData.empty() && bytes > 0)) {
            wideData.resize(bytes);  // the size first, or a value that grew meanwhile
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return ToError(status);
        }
        const bool delivered = Deliver(CallerData(type, wideData, bytes), data, dataBytes);
        // Without a buffer the call only asks for the size, as the system's own does.
        return delivered || data == nullptr ? kErrorSuccess : kErrorMoreData;
    }
    return kErrorMoreData;
}

ComPortError Win32Registry::CloseKey(RegistryKey key) {
    if (key == Registry::kLocalMachine) {
        return kErrorSuccess;  // the predefined root is never closed
    }
    return ToError(::RegCloseKey(ToHandle(key)));
}

}  // namespace quillon
