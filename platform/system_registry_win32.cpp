#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/system_registry.h"
#include "platform/utf16_text.h"

namespace quillon {

// Sizes are those of the UTF-8 text: a caller sees the same contract as with 8-bit text.

namespace {

// How often a read is tried again when the value changed between asking its size and reading.
constexpr int kAttempts = 4;

HKEY ToHandle(RegistryKey key) {
    if (key == Registry::kLocalMachine) {
        return HKEY_LOCAL_MACHINE;
    }
    return key == Registry::kCurrentUser ? HKEY_CURRENT_USER : reinterpret_cast<HKEY>(key);
}

// The system's code as an error's text, as the port list reports it.
std::string CodeText(LONG status) {
    return "error " + std::to_string(static_cast<unsigned long>(status));
}

// The reply for the status a registry call returned, or the error it stands for.
Result<RegistryReply> Reply(LONG status) {
    switch (status) {
        case ERROR_SUCCESS:
            return RegistryReply::kDone;
        case ERROR_FILE_NOT_FOUND:
            return RegistryReply::kMissing;
        case ERROR_MORE_DATA:
            return RegistryReply::kMoreData;
        case ERROR_NO_MORE_ITEMS:
            return RegistryReply::kNoMoreItems;
        default:
            return Fail(status == ERROR_ACCESS_DENIED ? ErrorKind::kAccessDenied
                        : status == ERROR_NOT_ENOUGH_MEMORY || status == ERROR_OUTOFMEMORY
                            ? ErrorKind::kOutOfMemory
                            : ErrorKind::kFailed,
                        CodeText(status));
    }
}

// Success only, for the settings calls: a missing key or value is an error of kind kNotFound.
Status Succeeded(LONG status) {
    if (status == ERROR_SUCCESS) {
        return {};
    }
    Result<RegistryReply> reply = Reply(status);
    if (!reply) {
        return Fail(std::move(reply).error());
    }
    return Fail(*reply == RegistryReply::kMissing ? ErrorKind::kNotFound : ErrorKind::kFailed,
                CodeText(status));
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
RegistryReply DeliverName(const std::wstring& name, char* buffer, std::uint32_t& chars) {
    const std::string text = Utf8FromUtf16(name);
    if (text.size() + 1 > chars) {
        return RegistryReply::kMoreData;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    chars = static_cast<std::uint32_t>(text.size());
    return RegistryReply::kDone;
}

// The longest value name and data of `key`, in characters and bytes.
LONG ValueLimits(HKEY key, DWORD& nameChars, DWORD& dataBytes) {
    return ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              &nameChars, &dataBytes, nullptr, nullptr);
}

// The whole data of the value `name` and its type, read again while it grows between asking
// its size and reading it.
LONG ReadWhole(HKEY key, const std::wstring& name, std::vector<BYTE>& data, DWORD& type) {
    LONG status = ERROR_MORE_DATA;
    for (int attempt = 0; attempt < kAttempts && status == ERROR_MORE_DATA; ++attempt) {
        DWORD size = 0;
        status = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        data.assign(size + sizeof(wchar_t), 0);  // room for a missing terminating NUL
        size = static_cast<DWORD>(data.size());
        status = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &size);
        if (status == ERROR_SUCCESS) {
            data.resize(size);
        }
    }
    return status;
}

}  // namespace

Result<RegistryReply> SystemRegistry::OpenKey(RegistryKey parent, const char* subKey,
                                              RegistryAccess access, RegistryKey& key) {
    const REGSAM desired = access == RegistryAccess::kRead ? KEY_READ : KEY_ENUMERATE_SUB_KEYS;
    HKEY opened = nullptr;
    const LONG status =
        ::RegOpenKeyExW(ToHandle(parent), Utf16FromUtf8(subKey).c_str(), 0, desired, &opened);
    if (status == ERROR_SUCCESS) {
        key = reinterpret_cast<RegistryKey>(opened);
    }
    return Reply(status);
}

Result<RegistryReply> SystemRegistry::EnumKey(RegistryKey key, std::uint32_t index, char* name,
                                              std::uint32_t& nameChars) {
    // A key's name has at most 255 characters.
    wchar_t wide[256] = {};
    DWORD chars = 256;
    const LONG status =
        ::RegEnumKeyExW(ToHandle(key), index, wide, &chars, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) {
        return Reply(status);
    }
    return DeliverName(std::wstring(wide, chars), name, nameChars);
}

Result<RegistryReply> SystemRegistry::EnumValue(RegistryKey key, std::uint32_t index, char* name,
                                                std::uint32_t& nameChars, std::uint8_t* data,
                                                std::uint32_t& dataBytes) {
    // A value that keeps growing between the calls is left to the caller's own retries.
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        DWORD longestName = 0;
        DWORD longestData = 0;
        if (const LONG status = ValueLimits(ToHandle(key), longestName, longestData);
            status != ERROR_SUCCESS) {
            return Reply(status);
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
            return Reply(status);
        }
        if (const RegistryReply reply =
                DeliverName(std::wstring(wideName.data(), chars), name, nameChars);
            reply != RegistryReply::kDone) {
            return reply;
        }
        return Deliver(CallerData(type, wideData, bytes), data, dataBytes)
                   ? RegistryReply::kDone
                   : RegistryReply::kMoreData;
    }
    return RegistryReply::kMoreData;
}

Result<RegistryReply> SystemRegistry::QueryValue(RegistryKey key, const char* name,
                                                 std::uint8_t* data, std::uint32_t& dataBytes) {
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
            return Reply(status);
        }
        const bool delivered = Deliver(CallerData(type, wideData, bytes), data, dataBytes);
        // Without a buffer the call only asks for the size, as the system's own does.
        return delivered || data == nullptr ? RegistryReply::kDone : RegistryReply::kMoreData;
    }
    return RegistryReply::kMoreData;
}

void SystemRegistry::CloseKey(RegistryKey key) {
    if (key != Registry::kLocalMachine && key != Registry::kCurrentUser) {
        ::RegCloseKey(ToHandle(key));  // the predefined roots are never closed
    }
}

Result<RegistryKey> SystemRegistry::OpenForQuery(RegistryKey root, const std::string& subKey) {
    HKEY opened = nullptr;
    const LONG status =
        ::RegOpenKeyExW(ToHandle(root), Utf16FromUtf8(subKey).c_str(), 0, KEY_QUERY_VALUE, &opened);
    if (Status succeeded = Succeeded(status); !succeeded) {
        return Fail(std::move(succeeded).error());
    }
    return reinterpret_cast<RegistryKey>(opened);
}

Result<RegistryKey> SystemRegistry::CreateForWriting(RegistryKey root, const std::string& subKey) {
    HKEY created = nullptr;
    const LONG status =
        ::RegCreateKeyExW(ToHandle(root), Utf16FromUtf8(subKey).c_str(), 0, nullptr,
                          REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &created, nullptr);
    if (Status succeeded = Succeeded(status); !succeeded) {
        return Fail(std::move(succeeded).error());
    }
    return reinterpret_cast<RegistryKey>(created);
}

Result<RegistryValue> SystemRegistry::ReadValue(RegistryKey key, const std::string& name) {
    std::vector<BYTE> data;
    DWORD type = REG_NONE;
    if (Status read = Succeeded(ReadWhole(ToHandle(key), Utf16FromUtf8(name), data, type)); !read) {
        return Fail(std::move(read).error());
    }
    RegistryValue value;
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ: {
            // Up to the first NUL, or the whole data where it has none.
            std::wstring text(data.size() / sizeof(wchar_t), L'\0');
            std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
            const std::size_t nul = text.find(L'\0');
            if (nul != std::wstring::npos) {
                text.resize(nul);
            }
            value.type = RegistryValue::Type::kText;
            value.text = Utf8FromUtf16(text);
            return value;
        }
        case REG_DWORD:
        case REG_QWORD: {
            const bool dword = type == REG_DWORD;
            if (data.size() < (dword ? sizeof(std::int32_t) : sizeof(std::int64_t))) {
                return Fail(ErrorKind::kInvalidData, name + " is shorter than its type");
            }
            std::int32_t number32 = 0;
            std::int64_t number64 = 0;
            std::memcpy(dword ? static_cast<void*>(&number32) : static_cast<void*>(&number64),
                        data.data(), dword ? sizeof number32 : sizeof number64);
            value.type = RegistryValue::Type::kInteger;
            value.number = dword ? number32 : number64;
            return value;
        }
        default:
            return value;  // kOther
    }
}

Status SystemRegistry::WriteText(RegistryKey key, const std::string& name,
                                 const std::string& text) {
    const std::wstring stored = Utf16FromUtf8(text);
    const auto bytes = static_cast<DWORD>((stored.size() + 1) * sizeof(wchar_t));
    return Succeeded(::RegSetValueExW(ToHandle(key), Utf16FromUtf8(name).c_str(), 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(stored.c_str()), bytes));
}

Status SystemRegistry::WriteInteger(RegistryKey key, const std::string& name, std::int32_t number) {
    const auto dword = static_cast<DWORD>(number);
    return Succeeded(::RegSetValueExW(ToHandle(key), Utf16FromUtf8(name).c_str(), 0, REG_DWORD,
                                      reinterpret_cast<const BYTE*>(&dword), sizeof(dword)));
}

}  // namespace quillon
