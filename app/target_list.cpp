#include "app/target_list.h"

#include <QComboBox>
#include <QDir>

#include <vector>

#include "image/monitor_file_catalog.h"
#include "window/window_lists.h"

QString TargetDisplayName(const QString& path) {
    return QString::fromStdString(
        MonitorFileDisplayName(QDir::toNativeSeparators(path).toStdString()));
}

void FillTargetList(QComboBox& list, const TargetFolders& folders, const QString& storedTarget) {
    const TargetListEntries targets = LoadTargetListEntries(folders, storedTarget.toStdString());
    list.clear();
    for (const MonitorFileEntry& entry : targets.entries) {
        list.addItem(QString::fromStdString(entry.displayName),
                     QDir::toNativeSeparators(QString::fromStdString(entry.path)));
    }
    // A combo box selects its first entry by itself; the stored name decides instead.
    list.setCurrentIndex(targets.selected);
}

void FillTargetList(QComboBox& list, const QString& targetsFolder, const QString& storedTarget) {
    FillTargetList(list, QStringList{targetsFolder}, QString(), storedTarget);
}

void FillTargetList(QComboBox& list, const QStringList& systemFolders, const QString& userFolder,
                    const QString& storedTarget) {
    // The entries' paths are absolute, as the folders are made here.
    TargetFolders folders;
    for (const QString& folder : systemFolders) {
        folders.system.push_back(QDir(folder).absolutePath().toStdString());
    }
    if (!userFolder.isEmpty()) {
        folders.user = QDir(userFolder).absolutePath().toStdString();
    }
    FillTargetList(list, folders, storedTarget);
}

QString GetSelectedTarget(const QComboBox& list, QString& strTarget) {
    // The entries as the list shows them, for the layer's rule.
    std::vector<MonitorFileEntry> entries;
    for (int i = 0; i < list.count(); ++i) {
        entries.push_back(
            {list.itemText(i).toStdString(), list.itemData(i).toString().toStdString()});
    }
    std::string target = strTarget.toStdString();
    const std::string path = SelectedTargetPath(entries, list.currentIndex(), target);
    if (list.currentIndex() >= 0) {
        strTarget = QString::fromStdString(target);
    }
    return QString::fromStdString(path);
}
