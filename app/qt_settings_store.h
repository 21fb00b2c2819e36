#pragma once

#include <QSettings>
#include <QString>
#include <optional>
#include <string>

#include "window/window_settings.h"

namespace quillon {

// The Qt window's SettingsStore: QSettings with organisation "Brenwick" and application
// "Quillon" (an INI file in the user's configuration folder), each value under the key
// "<section>/<value>", e.g. "Last Connection/Target". Texts are stored as strings, integers as
// integers.
//
// QSettings reads its file whole the moment it is made, with an open that blocks: the file is
// looked at first (CheckSettingsFile) and handed to QSettings only when it is a regular
// file within its bound, or nothing yet. A FIFO, a device, a folder or a giant file in its place
// is left alone: every value reads as missing (the defaults), writes are dropped, and Note()
// says so. The file is looked at once more before the first write, so that nothing is written
// through what took its place meanwhile.
class QtSettingsStore : public SettingsStore {
public:
    QtSettingsStore();

    std::optional<std::string> ReadText(const char* section, const char* value) override;
    void WriteText(const char* section, const char* value, const std::string& text) override;
    void WriteInteger(const char* section, const char* value, int number) override;
    std::string Note() const override { return m_note; }

    // The file QSettings keeps this user's settings of `organisation` and `application` in
    // (QSettings::setPath respected), found without reading it; empty where the settings are
    // no file.
    static QString UserSettingsFile(const QString& organisation, const QString& application);

private:
    // Whether writes may go to the file, looked at again before the first one.
    bool MayWrite();

    std::string m_path;
    std::optional<QSettings> m_settings;  // none: the file is left alone
    std::string m_note;
    bool m_lookedAtForWriting = false;
};

}  // namespace quillon
