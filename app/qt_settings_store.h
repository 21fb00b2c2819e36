#pragma once

#include <QSettings>
#include <optional>
#include <string>

#include "window/window_settings.h"

namespace quillon {

// The Qt window's SettingsStore: QSettings with organisation "Brenwick" and application
// "Quillon" (the registry on Windows, an INI file elsewhere), each value under the key
// "<section>/<value>", e.g. "Last Connection/Target". Texts are stored as strings, integers as
// integers.
class QtSettingsStore : public SettingsStore {
public:
    QtSettingsStore();

    std::optional<std::string> ReadText(const char* section, const char* value) override;
    void WriteText(const char* section, const char* value, const std::string& text) override;
    void WriteInteger(const char* section, const char* value, int number) override;

private:
    QSettings m_settings;
};

}  // namespace quillon
