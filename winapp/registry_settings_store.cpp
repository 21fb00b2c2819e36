#include "winapp/registry_settings_store.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/system_registry.h"
#include "platform/utf16_text.h"

namespace quillon {

namespace {

// An open key of the system's registry, closed on the way out.
class SettingsKey {
public:
    SettingsKey() = default;
    ~SettingsKey() {
        if (m_key) {
            m_registry.CloseKey(*m_key);
        }
    }
    SettingsKey(const SettingsKey&) = delete;
    SettingsKey& operator=(const SettingsKey&) = delete;

    bool Open(HKEY root, const std::wstring& path) {
        m_key = m_registry.OpenForQuery(reinterpret_cast<RegistryKey>(root), Utf8FromUtf16(path));
        return m_key.has_value();
    }
    bool Create(HKEY root, const std::wstring& path) {
        m_key =
            m_registry.CreateForWriting(reinterpret_cast<RegistryKey>(root), Utf8FromUtf16(path));
        return m_key.has_value();
    }
    SystemRegistry& registry() { return m_registry; }
    RegistryKey Get() const { return *m_key; }

private:
    SystemRegistry m_registry;
    Result<RegistryKey> m_key = Fail(ErrorKind::kNotFound, "not open");
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
    SettingsKey key;
    if (!key.Open(m_root, SectionKey(section))) {
        return std::nullopt;
    }
    const Result<RegistryValue> read = key.registry().ReadValue(key.Get(), value);
    if (!read) {
        return std::nullopt;
    }
    switch (read->type) {
        case RegistryValue::Type::kText:
            return UnescapeText(read->text);
        case RegistryValue::Type::kInteger:
            return std::to_string(read->number);
        default:
            return std::nullopt;
    }
}

void RegistrySettingsStore::WriteText(const char* section, const char* value,
                                      const std::string& text) {
    SettingsKey key;
    if (!key.Create(m_root, SectionKey(section))) {
        return;
    }
    // With the terminating NUL, as QSettings writes a REG_SZ. Writes report nothing (the
    // store's contract): a setting that cannot be written keeps its old value.
    [[maybe_unused]] const Status written =
        key.registry().WriteText(key.Get(), value, EscapeText(text));
}

void RegistrySettingsStore::WriteInteger(const char* section, const char* value, int number) {
    SettingsKey key;
    if (!key.Create(m_root, SectionKey(section))) {
        return;
    }
    [[maybe_unused]] const Status written =
        key.registry().WriteInteger(key.Get(), value, static_cast<std::int32_t>(number));
}

}  // namespace quillon
