#pragma once

#include <QString>
#include <QStringList>

#include "image/target_folders.h"

class QComboBox;

// The target list over a combo box: it shows what LoadTargetListEntries (window/window_lists.h)
// found and selected, one entry per monitor file under the target's display name, with the
// file's full path (native separators) kept as the entry's item data (Qt::UserRole). The text
// shown is the name alone, exactly as the file gives it, trailing spaces included.

// The display name of the monitor file `path` (MonitorFileDisplayName).
QString TargetDisplayName(const QString& path);

// Empties `list` and shows the monitor files of `folders` with the stored target selected (the
// first entry whose name begins with `storedTarget`, letter case ignored; a list of exactly one
// entry has it selected whatever was stored).
void FillTargetList(QComboBox& list, const TargetFolders& folders, const QString& storedTarget);
// The same for one folder (a missing folder gives an empty list) ...
void FillTargetList(QComboBox& list, const QString& targetsFolder, const QString& storedTarget);
// ... and for `systemFolders` and `userFolder` (empty: none), where a name from the user's
// folder hides the same name from the others.
void FillTargetList(QComboBox& list, const QStringList& systemFolders, const QString& userFolder,
                    const QString& storedTarget);

// The monitor file path of the selected entry, and its name recorded in `strTarget`; without a
// selection the empty path, and `strTarget` is left as it was (SelectedTargetPath).
QString GetSelectedTarget(const QComboBox& list, QString& strTarget);
