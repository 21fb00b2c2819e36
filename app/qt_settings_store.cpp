#include "app/qt_settings_store.h"

#include <QString>

namespace quillon {

namespace {

QString KeyOf(const char* section, const char* value) {
    return QString::fromUtf8(section) + QLatin1Char('/') + QString::fromUtf8(value);
}

}  // namespace

QtSettingsStore::QtSettingsStore() : m_settings(kSettingsCompany, kSettingsProfile) {}

std::optional<std::string> QtSettingsStore::ReadText(const char* section, const char* value) {
    const QString key = KeyOf(section, value);
    if (!m_settings.contains(key)) {
        return std::nullopt;
    }
    // An integer (a DWORD in the registry) reads as its decimal text.
    return m_settings.value(key).toString().toStdString();
}

void QtSettingsStore::WriteText(const char* section, const char* value, const std::string& text) {
    m_settings.setValue(KeyOf(section, value), QString::fromStdString(text));
}

void QtSettingsStore::WriteInteger(const char* section, const char* value, int number) {
    m_settings.setValue(KeyOf(section, value), number);
}

}  // namespace quillon
