#include "window/window_lists.h"

#include <algorithm>
#include <iterator>

#include "helpers/ascii_case.h"

namespace quillon {

namespace {

bool IsValidIndex(int index, std::size_t count) {
    return index >= 0 && static_cast<std::size_t>(index) < count;
}

// The first of `texts` that begins with `prefix`, where the empty prefix begins every text.
int FirstEntryBeginningWith(const std::vector<std::string>& texts, const std::string& prefix) {
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (StartsWithIgnoringCase(texts[i], prefix)) {
            return static_cast<int>(i);
        }
    }
    return kNoSelection;
}

// Collects the port names an enumeration reports.
int CollectPort(std::uintptr_t context, const ComPortInfo* info) {
    auto* ports = reinterpret_cast<std::vector<std::string>*>(context);
    if (info != nullptr && info->portName != nullptr) {
        ports->emplace_back(info->portName);
    }
    return 1;
}

}  // namespace

int FirstEntryStartingWith(const std::vector<std::string>& texts, const std::string& prefix) {
    return prefix.empty() ? kNoSelection : FirstEntryBeginningWith(texts, prefix);
}

// --- Target list -----------------------------------------------------------------------

TargetListEntries LoadTargetListEntries(const TargetFolders& folders,
                                        const std::string& storedTarget,
                                        const ReaderMessageSink& onMessage) {
    TargetListEntries list;
    list.entries = ListTargetFolders(folders, nullptr, onMessage);
    list.selected = SelectTargetEntry(list.entries, storedTarget);
    return list;
}

int SelectTargetEntry(const std::vector<MonitorFileEntry>& entries,
                      const std::string& storedTarget) {
    if (entries.size() == 1) {
        return 0;
    }
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (const MonitorFileEntry& entry : entries) {
        names.push_back(entry.displayName);
    }
    return FirstEntryStartingWith(names, storedTarget);
}

std::string SelectedTargetPath(const std::vector<MonitorFileEntry>& entries, int selected,
                               std::string& strTarget) {
    if (!IsValidIndex(selected, entries.size())) {
        return {};
    }
    const MonitorFileEntry& entry = entries[static_cast<std::size_t>(selected)];
    strTarget = entry.displayName;
    return entry.path;
}

// --- Port list -------------------------------------------------------------------------

PortListEntries LoadPortListEntries(const PortEnumerator& enumerate, const std::string& storedPort,
                                    MissingPortChoice missing, std::vector<std::string>* notes) {
    PortListEntries list;
    const auto context = reinterpret_cast<std::uintptr_t>(&list.ports);
    const int listed = enumerate ? enumerate(&CollectPort, context)
                                 : EnumerateComPorts(&CollectPort, context, notes);
    // Sorted with letter case ignored; equal names keep the order they were reported in. The
    // user's network ports follow the local ones, in the order of their list.
    const auto isNetwork = [](const std::string& port) {
        return port.find("://") != std::string::npos;
    };
    std::stable_sort(list.ports.begin(), list.ports.end(),
                     [&isNetwork](const std::string& a, const std::string& b) {
                         if (isNetwork(a) || isNetwork(b)) {
                             return !isNetwork(a) && isNetwork(b);
                         }
                         return CompareIgnoringCase(a, b) < 0;
                     });
    // After a failed enumeration nothing is selected. The stored name begins the selected
    // port's name; an empty one begins every name.
    list.selected = listed == 1 ? FirstEntryBeginningWith(list.ports, storedPort) : kNoSelection;
    if (listed == 1 && list.selected == kNoSelection && !list.ports.empty() &&
        missing == MissingPortChoice::kFirstPort) {
        list.selected = 0;
    }
    return list;
}

PortListEntries ReloadPortListEntries(const PortEnumerator& enumerate,
                                      const PortListEntries& previous,
                                      const std::string& storedPort, MissingPortChoice missing,
                                      std::vector<std::string>* notes) {
    PortListEntries list = LoadPortListEntries(enumerate, storedPort, missing, notes);
    if (IsValidIndex(previous.selected, previous.ports.size())) {
        // Only the same port again: one that merely begins with its name is another device.
        const std::string& port = previous.ports[static_cast<std::size_t>(previous.selected)];
        const auto found = std::find(list.ports.begin(), list.ports.end(), port);
        list.selected =
            found == list.ports.end() ? kNoSelection : static_cast<int>(found - list.ports.begin());
    }
    return list;
}

std::string SelectedComPort(const PortListEntries& list, std::string& strComPort) {
    if (!IsValidIndex(list.selected, list.ports.size())) {
        return kDefaultComPort;
    }
    strComPort = list.ports[static_cast<std::size_t>(list.selected)];
    return strComPort;
}

// --- Baud rate list --------------------------------------------------------------------

std::vector<std::string> BaudrateTexts() {
    std::vector<std::string> texts;
    for (const BaudRate rate : kBaudRates) {
        texts.push_back(BaudRateText(rate));
    }
    return texts;
}

int SelectBaudrateEntry(const std::string& storedBaudrate) {
    return FirstEntryBeginningWith(BaudrateTexts(), storedBaudrate);
}

BaudRate SelectedBaudrate(int selected, std::string& strBaudrate) {
    if (!IsValidIndex(selected, std::size(kBaudRates))) {
        return kDefaultBaudRate;
    }
    const BaudRate rate = kBaudRates[static_cast<std::size_t>(selected)];
    strBaudrate = BaudRateText(rate);
    return rate;
}

}  // namespace quillon
