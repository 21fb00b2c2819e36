#include "winapp/registry_settings_store.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/utf16_text.h"

namespace quillon {

namespace {

// An open registry key, closed on the way out.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() {
        if (m_key != nullptr) {
            ::RegCloseKey(m_key);
        }
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    bool Open(HKEY root, const std::wstring& path) {
        return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, &m_key) == ERROR_SUCCESS;
    }
    bool Create(HKEY root, const std::wstring& path) {
        return ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_SET_VALUE, nullptr, &m_key, nullptr) == ERROR_SUCCESS;
    }
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

bool EndsWith(const std::string& text, char last) {
    return !text.empty() && text.back() == last;
}

}  // namespace

RegistrySettingsStore::RegistrySettingsStore(HKEY root, std::wstring key)
    : m_root(root), m_key(std::move(key)) {}

std::wstring RegistrySettingsStore::SectionKey(const char* section) const {
    return m_key + L"\\" + Utf16FromUtf8(section);
}

std::string RegistrySettingsStore::EscapeText(const std::string& text) {
    // QSettings' variantToString: a string with a leading '@' would read as one of its
    // encoded values, so one more '@' goes in front.
    return StartsWith(text, "@") ? "@" + text : text;
}

std::string RegistrySettingsStore::UnescapeText(const std::string& stored) {
    // QSettings' stringToVariant, for what a string setting can hold.
    if (!StartsWith(stored, "@")) {
        return stored;
    }
    if (StartsWith(stored, "@@")) {
        return stored.substr(1);
    }
    if (EndsWith(stored, ')')) {
        if (stored == "@Invalid()") {
            return std::string();  // present but invalid: its text is empty
        }
        for (const char* prefix : {"@ByteArray(", "@String("}) {
            if (StartsWith(stored, prefix)) {
                const std::size_t begin = std::strlen(prefix);
                return stored.substr(begin, stored.size() - begin - 1);
            }
        }
    }
    return stored;
}

std::optional<std::string> RegistrySettingsStore::ReadText(const char* section, const char* value) {
    RegistryKey key;
    if (!key.Open(m_root, SectionKey(section))) {
        return std::nullopt;
    }
    const std::wstring name = Utf16FromUtf8(value);
    // The value may change between the two calls: the size is asked again until it fits.
    std::vector<BYTE> data;
    DWORD type = REG_NONE;
    LSTATUS status = ERROR_MORE_DATA;
    for (int attempt = 0; attempt < 4 && status == ERROR_MORE_DATA; ++attempt) {
        DWORD size = 0;
        if (::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS) {
            return std::nullopt;
        }
        data.assign(size + sizeof(wchar_t), 0);  // room for a missing terminating NUL
        size = static_cast<DWORD>(data.size());
        status = ::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, data.data(), &size);
        if (status == ERROR_SUCCESS) {
            data.resize(size);
        }
    }
    if (status != ERROR_SUCCESS) {
        return std::nullopt;
    }
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ: {
            // Up to the first NUL, or the whole data where it has none.
            std::size_t chars = data.size() / sizeof(wchar_t);
            std::wstring text(chars, L'\0');
            std::memcpy(text.data(), data.data(), chars * sizeof(wchar_t));
            const std::size_t nul = text.find(L'\0');
            if (nul != std::wstring::npos) {
                text.resize(nul);
            }
            return UnescapeText(Utf8FromUtf16(text));
        }
        case REG_DWORD: {
            if (data.size() < sizeof(std::int32_t)) {
                return std::nullopt;
            }
            std::int32_t number = 0;
            std::memcpy(&number, data.data(), sizeof(number));
            return std::to_string(number);
        }
        case REG_QWORD: {
            if (data.size() < sizeof(std::int64_t)) {
                return std::nullopt;
            }
            std::int64_t number = 0;
            std::memcpy(&number, data.data(), sizeof(number));
            return std::to_string(number);
        }
        default:
            return std::nullopt;
    }
}

void RegistrySettingsStore::WriteText(const char* section, const char* value,
                                      const std::string& text) {
    RegistryKey key;
    if (!key.Create(m_root, SectionKey(section))) {
        return;
    }
    const std::wstring stored = Utf16FromUtf8(EscapeText(text));
    // With the terminating NUL, as QSettings writes a REG_SZ.
    const auto bytes = static_cast<DWORD>((stored.size() + 1) * sizeof(wchar_t));
    ::RegSetValueExW(key.Get(), Utf16FromUtf8(value).c_str(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(stored.c_str()), bytes);
}

void RegistrySettingsStore::WriteInteger(const char* section, const char* value, int number) {
    RegistryKey key;
    if (!key.Create(m_root, SectionKey(section))) {
        return;
    }
    const auto dword = static_cast<DWORD>(static_cast<std::int32_t>(number));
    ::RegSetValueExW(key.Get(), Utf16FromUtf8(value).c_str(), 0, REG_DWORD,
                     reinterpret_cast<const BYTE*>(&dword), sizeof(dword));
}

}  // namespace quillon
