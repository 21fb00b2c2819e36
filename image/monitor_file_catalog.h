#pragma once

#include <functional>
#include <string>
#include <vector>

// The monitor files of a targets folder and the names they are offered under: the target
// name from the file's monitor header, or, for a file that cannot be read or carries no
// accepted header, a name made from the file name. Every front end lists targets this way.

struct MonitorFileEntry {
    std::string displayName;  // UTF-8
    std::string path;
};

// The name made from a file name: the name without folder and extension, from after its
// first underscore when it has one ("Mon_BoardA_40MHz.h86" gives "BoardA_40MHz").
std::string TargetNameFromFileName(const std::string& path);

// Loads `path` into the image memory (the reader shows its own messages for a file it cannot
// read) and returns the target's display name.
std::string MonitorFileDisplayName(const std::string& path);

// The monitor files ("*.h86", letter case ignored) of `folder`, each loaded once for its
// name, sorted by name with letter case ignored (equal names by path). A missing folder gives
// no entries. `beforeEachFile`, when given, is told each file's path before it is read, so
// that a front end can say which file the reader's messages are about.
std::vector<MonitorFileEntry> ListMonitorFiles(
    const std::string& folder,
    const std::function<void(const std::string& path)>& beforeEachFile = nullptr);

// Sorts by name with letter case ignored, equal names by path.
void SortMonitorFiles(std::vector<MonitorFileEntry>& entries);
