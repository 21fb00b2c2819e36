#include "app/qt_settings_store.h"

namespace quillon {

namespace {

QString KeyOf(const char* section, const char* value) {
    return QString::fromUtf8(section) + QLatin1Char('/') + QString::fromUtf8(value);
}

}  // namespace

QString QtSettingsStore::UserSettingsFile(const QString& organisation, const QString& application) {
    // QSettings tells where a name's file lies only once it has read it: it is asked about a
    // name no file has, and the settings' own file lies in the same place under their names.
    const QString probeName = QStringLiteral(".quillon-settings-place");
    const QSettings probe(QSettings::NativeFormat, QSettings::UserScope, probeName, probeName);
    const QString probeFile = probe.fileName();
    const QString probeTail = probeName + QLatin1Char('/') + probeName;
    const qsizetype at = probeFile.lastIndexOf(probeTail);
    if (at < 0) {
        return {};  // not a file (the registry)
    }
    return probeFile.left(at) + organisation + QLatin1Char('/') + application +
           probeFile.mid(at + probeTail.size());
}

QtSettingsStore::QtSettingsStore()
    : m_path(
          UserSettingsFile(QString::fromUtf8(kSettingsCompany), QString::fromUtf8(kSettingsProfile))
              .toStdString()) {
    if (m_path.empty()) {
        m_settings.emplace(kSettingsCompany, kSettingsProfile);
        return;
    }
    if (const Status usable = CheckSettingsFile(m_path)) {
        m_settings.emplace(QString::fromStdString(m_path), QSettings::NativeFormat);
    } else {
        m_note = usable.error().text;
    }
}

bool QtSettingsStore::MayWrite() {
    if (!m_lookedAtForWriting && m_settings && !m_path.empty()) {
        m_lookedAtForWriting = true;
        if (const Status usable = CheckSettingsFile(m_path); !usable) {
            m_note = usable.error().text;
            m_settings.reset();  // nothing written yet, so nothing goes to the file
        }
    }
    return m_settings.has_value();
}

std::optional<std::string> QtSettingsStore::ReadText(const char* section, const char* value) {
    const QString key = KeyOf(section, value);
    if (!m_settings || !m_settings->contains(key)) {
        return std::nullopt;
    }
    // An integer (a DWORD in the registry) reads as its decimal text.
    return m_settings->value(key).toString().toStdString();
}

void QtSettingsStore::WriteText(const char* section, const char* value, const std::string& text) {
    if (MayWrite()) {
        m_settings->setValue(KeyOf(section, value), QString::fromStdString(text));
    }
}

void QtSettingsStore::WriteInteger(const char* section, const char* value, int number) {
    if (MayWrite()) {
        m_settings->setValue(KeyOf(section, value), number);
    }
}

}  // namespace quillon
