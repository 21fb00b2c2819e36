#pragma once

#include <QString>
#include <QVariant>

class QComboBox;

// Adds `text` (with `data` as its item data) to `list` in order of the texts, letter case
// ignored; among equal texts the new entry goes last. For the drop-down lists that keep their
// entries sorted.
void InsertSortedEntry(QComboBox& list, const QString& text, const QVariant& data = QVariant());

// Selects the first entry whose text begins with `prefix`, letter case ignored; when none does,
// nothing is selected. Returns the selected index or -1.
int SelectEntryStartingWith(QComboBox& list, const QString& prefix);
