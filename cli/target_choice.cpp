#include "cli/target_choice.h"

#include <algorithm>

#include "helpers/ascii_case.h"
#include "helpers/text_format.h"

namespace quillon {

Result<MonitorFileEntry> ResolveTarget(const std::vector<MonitorFileEntry>& entries,
                                       const std::string& name) {
    std::vector<const MonitorFileEntry*> equal;
    std::vector<const MonitorFileEntry*> candidates;
    for (const MonitorFileEntry& entry : entries) {
        if (EqualIgnoringCase(entry.displayName, name)) {
            equal.push_back(&entry);
        }
        if (StartsWithIgnoringCase(entry.displayName, name)) {
            candidates.push_back(&entry);
        }
    }
    const std::vector<const MonitorFileEntry*>& matches = equal.empty() ? candidates : equal;
    const bool oneName =
        !matches.empty() && std::all_of(matches.begin(), matches.end(), [&](auto* m) {
            return EqualIgnoringCase(m->displayName, matches.front()->displayName);
        });
    if (matches.size() == 1) {
        return *matches.front();
    }
    const std::string shownName = EscapeForTerminal(name, false);
    std::string error;
    if (oneName) {
        error = "ambiguous target '" + shownName + "': several monitor files carry the name '" +
                EscapeForTerminal(matches.front()->displayName, false) + "':";
        for (const MonitorFileEntry* match : matches) {
            error += "\n  " + EscapeForTerminal(match->path, false);
        }
        return Fail(ErrorKind::kUsage, std::move(error));
    }
    error = (matches.empty() ? "unknown target '" : "ambiguous target '") + shownName +
            "'; known targets:";
    if (entries.empty()) {
        error += " none";
    }
    for (const MonitorFileEntry& entry : entries) {
        error += "\n  " + EscapeForTerminal(entry.displayName, false);
    }
    return Fail(ErrorKind::kUsage, std::move(error));
}

std::vector<MonitorFileEntry> ListTargets(const TargetFolders& folders, CliConsole& console,
                                          std::vector<HiddenTarget>* hidden) {
    return ListTargetFolders(folders, hidden,
                             [&console](const std::string& path, const std::string& text) {
                                 console.ReaderMessage(path, text);
                             });
}

}  // namespace quillon
