#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quillon {

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

// What a front end does with a text of the reader about the file at `path`: shows it.
using ReaderMessageSink = std::function<void(const std::string& path, const std::string& text)>;

// Reads `path` and returns the target's display name. The reader's texts about the file go to
// `onMessage`, in order, when given.
std::string MonitorFileDisplayName(const std::string& path,
                                   const ReaderMessageSink& onMessage = nullptr);

// The monitor files ("*.h86", letter case ignored) of `folder`, each read once for its name,
// sorted by name with letter case ignored (equal names by path). A missing folder gives no
// entries. The reader's texts go to `onMessage`, file by file as they are read.
std::vector<MonitorFileEntry> ListMonitorFiles(const std::string& folder,
                                               const ReaderMessageSink& onMessage = nullptr);

// Sorts by name with letter case ignored, equal names by path.
void SortMonitorFiles(std::vector<MonitorFileEntry>& entries);

}  // namespace quillon
