#include "app/list_selection.h"

#include <QComboBox>

void InsertSortedEntry(QComboBox& list, const QString& text, const QVariant& data) {
    int index = 0;
    while (index < list.count() &&
           QString::compare(text, list.itemText(index), Qt::CaseInsensitive) >= 0) {
        ++index;
    }
    list.insertItem(index, text, data);
}

int SelectEntryStartingWith(QComboBox& list, const QString& prefix) {
    for (int index = 0; index < list.count(); ++index) {
        if (list.itemText(index).startsWith(prefix, Qt::CaseInsensitive)) {
            list.setCurrentIndex(index);
            return index;
        }
    }
    list.setCurrentIndex(-1);
    return -1;
}
