#include "image/target_folders.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "helpers/ascii_case.h"
#include "platform/environment.h"
#include "platform/utf8_path.h"

namespace quillon {

namespace {

namespace fs = std::filesystem;

// `path` without "." and ".." steps, as a reader of the listing expects it.
std::string Tidy(const fs::path& path) {
    return Utf8FromPath(path.lexically_normal());
}

}  // namespace

std::string UserTargetsFolder(const std::string& xdgDataHome, const std::string& home) {
    // An XDG variable that is not an absolute path is to be ignored.
    if (!xdgDataHome.empty() && PathFromUtf8(xdgDataHome).is_absolute()) {
        return Tidy(PathFromUtf8(xdgDataHome) / "quillon" / "Targets");
    }
    if (!home.empty()) {
        return Tidy(PathFromUtf8(home) / ".local" / "share" / "quillon" / "Targets");
    }
    return {};
}

TargetFolders FindTargetFolders(const std::string& programDirectory) {
    TargetFolders folders;
    const fs::path program = PathFromUtf8(programDirectory);
    for (const fs::path& candidate :
         {program / "Targets", program / ".." / "share" / "quillon" / "Targets"}) {
        if (!programDirectory.empty() && IsFolder(candidate)) {
            folders.system.push_back(Tidy(candidate));
        }
    }
    const XdgEnvironment xdg = ReadXdgEnvironment();
    std::string user = UserTargetsFolder(xdg.dataHome, xdg.home);
    if (const std::string shared = SharedDataFolder(); user.empty() && !shared.empty()) {
        user = Tidy(PathFromUtf8(shared) / "Quillon" / "Targets");
    }
    if (!user.empty() && IsFolder(PathFromUtf8(user))) {
        folders.user = user;
    }
    return folders;
}

std::string FindShippedFile(const std::string& programDirectory, const std::string& fileName) {
    if (programDirectory.empty()) {
        return {};
    }
    const fs::path program = PathFromUtf8(programDirectory);
    const fs::path share = program / ".." / "share";
    for (const fs::path& candidate :
         {program / PathFromUtf8(fileName), share / "doc" / "quillon" / PathFromUtf8(fileName),
          share / "quillon" / PathFromUtf8(fileName)}) {
        if (IsFile(candidate)) {
            return Tidy(candidate);
        }
    }
    return {};
}

std::vector<MonitorFileEntry> MergeTargetLists(const std::vector<MonitorFileEntry>& system,
                                               const std::vector<MonitorFileEntry>& user,
                                               std::vector<HiddenTarget>* hidden) {
    std::vector<MonitorFileEntry> merged = user;
    for (const MonitorFileEntry& entry : system) {
        const auto by = std::find_if(user.begin(), user.end(), [&](const MonitorFileEntry& u) {
            return EqualIgnoringCase(u.displayName, entry.displayName);
        });
        if (by == user.end()) {
            merged.push_back(entry);
        } else if (hidden != nullptr) {
            hidden->push_back({entry, *by});
        }
    }
    SortMonitorFiles(merged);
    return merged;
}

std::vector<MonitorFileEntry> ListTargetFolders(const TargetFolders& folders,
                                                std::vector<HiddenTarget>* hidden,
                                                const ReaderMessageSink& onMessage) {
    std::vector<MonitorFileEntry> system;
    for (const std::string& folder : folders.system) {
        const std::vector<MonitorFileEntry> entries = ListMonitorFiles(folder, onMessage);
        system.insert(system.end(), entries.begin(), entries.end());
    }
    const std::vector<MonitorFileEntry> user = folders.user.empty()
                                                   ? std::vector<MonitorFileEntry>()
                                                   : ListMonitorFiles(folders.user, onMessage);
    return MergeTargetLists(system, user, hidden);
}

}  // namespace quillon
