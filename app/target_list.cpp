#include "app/target_list.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <vector>

#include "image/monitor_file_catalog.h"
#include "image/target_folders.h"

namespace {

bool HasMonitorFileSuffix(const QString& path) {
    return path.endsWith(QStringLiteral(".h86"), Qt::CaseInsensitive) ||
           path.endsWith(QStringLiteral(".hex"), Qt::CaseInsensitive);
}

// Negative, zero or positive as entry (name, path) sorts before, with or after entry `index`.
int CompareWithEntry(const QComboBox& list, int index, const QString& name, const QString& path) {
    const int byName = QString::compare(name, list.itemText(index), Qt::CaseInsensitive);
    if (byName != 0) {
        return byName;
    }
    return QString::compare(path, list.itemData(index).toString(), Qt::CaseInsensitive);
}

void InsertSorted(QComboBox& list, const QString& name, const QString& path) {
    int index = 0;
    while (index < list.count() && CompareWithEntry(list, index, name, path) >= 0) {
        ++index;
    }
    list.insertItem(index, name, path);
}

// Adds the monitor files "*.h86" of `folder` (none when it is missing) to `entries`.
void AppendMonitorFiles(const QString& folder, std::vector<MonitorFileEntry>& entries) {
    const QFileInfoList files = QDir(folder).entryInfoList(
        {QStringLiteral("*.h86")}, QDir::Files | QDir::Hidden, QDir::Unsorted);
    for (const QFileInfo& file : files) {
        const QString path = QDir::toNativeSeparators(file.absoluteFilePath());
        if (HasMonitorFileSuffix(path)) {
            entries.push_back({TargetDisplayName(path).toStdString(), path.toStdString()});
        }
    }
}

}  // namespace

QString TargetDisplayName(const QString& path) {
    return QString::fromStdString(
        MonitorFileDisplayName(QDir::toNativeSeparators(path).toStdString()));
}

void FillTargetList(QComboBox& list, const QString& targetsFolder, const QString& storedTarget) {
    FillTargetList(list, QStringList{targetsFolder}, QString(), storedTarget);
}

void FillTargetList(QComboBox& list, const QStringList& systemFolders, const QString& userFolder,
                    const QString& storedTarget) {
    std::vector<MonitorFileEntry> system;
    for (const QString& folder : systemFolders) {
        AppendMonitorFiles(folder, system);
    }
    std::vector<MonitorFileEntry> user;
    if (!userFolder.isEmpty()) {
        AppendMonitorFiles(userFolder, user);
    }
    for (const MonitorFileEntry& entry : MergeTargetLists(system, user, nullptr)) {
        InsertSorted(list, QString::fromStdString(entry.displayName),
                     QString::fromStdString(entry.path));
    }

    // A combo box selects its first entry by itself; the stored name decides instead.
    int selected = -1;
    if (!storedTarget.isEmpty()) {
        for (int i = 0; i < list.count() && selected < 0; ++i) {
            if (list.itemText(i).startsWith(storedTarget, Qt::CaseInsensitive)) {
                selected = i;
            }
        }
    }
    if (list.count() == 1) {
        selected = 0;
    }
    list.setCurrentIndex(selected);
}

QString GetSelectedTarget(const QComboBox& list, QString& strTarget) {
    const int index = list.currentIndex();
    if (index < 0) {
        return QString();
    }
    strTarget = list.itemText(index);
    return list.itemData(index).toString();
}
