#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "window/window_settings.h"

namespace quillon {

// The window's settings in the registry, laid out as Qt's QSettings (native format) writes
// them on Windows, so that the Qt window and this one read what the other wrote:
//
//   <root>\<key>\<section>  value  REG_SZ (texts) or REG_DWORD (integers)
//
// Texts are stored UTF-16 with their terminating NUL counted in the size. A text that begins
// with '@' is stored with one more '@' in front, as QSettings escapes it, and read back without
// it ("@@x" reads as "@x"); the other forms QSettings gives a leading '@' ("@Invalid()",
// "@ByteArray(...)", "@String(...)") read as QSettings reads them. REG_SZ and REG_EXPAND_SZ read
// as texts, REG_DWORD and REG_QWORD as their signed decimal text; any other type, a missing
// value or key, reads as nothing. Writes create the keys they need and report nothing.
class RegistrySettingsStore : public SettingsStore {
public:
    RegistrySettingsStore(HKEY root, std::wstring key);

    std::optional<std::string> ReadText(const char* section, const char* value) override;
    void WriteText(const char* section, const char* value, const std::string& text) override;
    void WriteInteger(const char* section, const char* value, int number) override;

    // The text as stored for `text` (the '@' escape) and back.
    static std::string EscapeText(const std::string& text);
    static std::string UnescapeText(const std::string& stored);

private:
    std::wstring SectionKey(const char* section) const;

    HKEY m_root;
    std::wstring m_key;
};

}  // namespace quillon
