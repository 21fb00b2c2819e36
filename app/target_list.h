#pragma once

#include <QString>
#include <QStringList>

class QComboBox;

// The target list: one entry per monitor file, shown under the target's display name, with the
// file's full path kept as the entry's item data (Qt::UserRole). Entries are sorted by name,
// letter case ignored (equal names by path), so the text shown is the name alone, exactly as
// the file gives it, trailing spaces included.

// The display name of the monitor file `path`. Loads the file into the image memory (the
// reader shows its own message boxes for a file it cannot read); when it loads and carries an
// accepted monitor header, the name is the header's target name, otherwise the file's name
// without folder and extension, from after its first underscore if it has one.
QString TargetDisplayName(const QString& path);

// Fills `list` with the monitor files "*.h86" of `targetsFolder` (a missing folder gives an
// empty list), then selects the first entry whose name begins with `storedTarget`, letter case
// ignored (no such entry: no selection). A list of exactly one entry has it selected whatever
// was stored.
void FillTargetList(QComboBox& list, const QString& targetsFolder, const QString& storedTarget);
// The same over several folders: the files of `systemFolders` and of `userFolder` (empty:
// none), where a name from the user's folder hides the same name from the others.
void FillTargetList(QComboBox& list, const QStringList& systemFolders, const QString& userFolder,
                    const QString& storedTarget);

// The monitor file path of the selected entry, and its name recorded in `strTarget`; without a
// selection the empty path, and `strTarget` is left as it was.
QString GetSelectedTarget(const QComboBox& list, QString& strTarget);
