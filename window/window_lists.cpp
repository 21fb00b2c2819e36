#include "window/window_lists.h"

#include <algorithm>
#include <iterator>

#include "helpers/ascii_case.h"
#include "link/line_settings.h"
#include "platform/virtual_ports.h"
#include "ports/port_address.h"

namespace quillon {

namespace {

bool IsValidIndex(int index, std::size_t count) {
    return index >= 0 && static_cast<std::size_t>(index) < count;
}

// Whether `entry` is a port a board is likely on: a USB adapter or a virtual target's link.
bool IsLikelyBoardPort(const std::string& name, const std::string& description) {
    const std::string_view file = std::string_view(name).substr(name.rfind('/') + 1);
    return file.rfind("ttyUSB", 0) == 0 || file.rfind("ttyACM", 0) == 0 ||
           description == kVirtualPortFriendlyName;
}

}  // namespace

int FirstEntryBeginningWith(const std::vector<std::string>& texts, const std::string& prefix) {
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (StartsWithIgnoringCase(texts[i], prefix)) {
            return static_cast<int>(i);
        }
    }
    return kNoSelection;
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
    if (storedTarget.empty()) {
        return kNoSelection;
    }
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (const MonitorFileEntry& entry : entries) {
        names.push_back(entry.displayName);
    }
    return FirstEntryBeginningWith(names, storedTarget);
}

std::optional<MonitorFileEntry> SelectedTarget(const TargetListEntries& list) {
    if (!IsValidIndex(list.selected, list.entries.size())) {
        return std::nullopt;
    }
    return list.entries[static_cast<std::size_t>(list.selected)];
}

// --- Port list -------------------------------------------------------------------------

PortListEntries LoadPortListEntries(const PortEnumerator& enumerate, const std::string& storedPort,
                                    MissingPortChoice missing, std::vector<std::string>* notes) {
    PortListEntries list;
    std::vector<PortEntry> found;
    const bool listed =
        (enumerate ? enumerate(found) : EnumerateComPorts(found, notes)).has_value();
    // Sorted with letter case ignored; equal names keep the order they were reported in. The
    // user's network ports follow the local ones, in the order of their list.
    std::stable_sort(found.begin(), found.end(), [](const PortEntry& a, const PortEntry& b) {
        if (IsNetworkPortName(a.name) || IsNetworkPortName(b.name)) {
            return !IsNetworkPortName(a.name) && IsNetworkPortName(b.name);
        }
        return CompareIgnoringCase(a.name, b.name) < 0;
    });
    for (PortEntry& entry : found) {
        list.ports.push_back(std::move(entry.name));
        list.descriptions.push_back(std::move(entry.description));
    }
    // After a failed enumeration nothing is selected. The stored name begins the selected
    // port's name; an empty one begins every name.
    list.selected = listed ? FirstEntryBeginningWith(list.ports, storedPort) : kNoSelection;
    if (listed && list.selected == kNoSelection) {
        // The default name is what a first start reads: nothing was saved.
        list.storedMissing = storedPort != kDefaultPortName;
        if (missing == MissingPortChoice::kFirstPort && !list.ports.empty()) {
            list.selected = 0;
            for (std::size_t i = 0; i < list.ports.size(); ++i) {
                if (IsLikelyBoardPort(list.ports[i], list.descriptions[i])) {
                    list.selected = static_cast<int>(i);
                    break;
                }
            }
        }
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

std::optional<std::string> SelectedPort(const PortListEntries& list) {
    if (!IsValidIndex(list.selected, list.ports.size())) {
        return std::nullopt;
    }
    return list.ports[static_cast<std::size_t>(list.selected)];
}

std::string OpenPortListText(const std::string& name, const std::string& description) {
    return description.empty() || description == name ? name : name + "  \u2014  " + description;
}

std::string MissingPortLine(bool saved, const std::string& port,
                            const std::optional<std::string>& selected) {
    return (saved ? "Saved port " : "Port ") + port + " is not present; " +
           (selected ? "selected " + *selected : std::string("no port selected")) + ".";
}

// --- Baud rate list --------------------------------------------------------------------

std::vector<BaudRate> ListedBaudRates(const std::vector<BaudRate>& added) {
    std::vector<BaudRate> rates(std::begin(kBaudRates), std::end(kBaudRates));
    for (const BaudRate rate : added) {
        if (std::find(rates.begin(), rates.end(), rate) == rates.end()) {
            rates.push_back(rate);
        }
    }
    std::sort(rates.begin(), rates.end(),
              [](BaudRate a, BaudRate b) { return a.bitsPerSecond < b.bitsPerSecond; });
    return rates;
}

std::vector<std::string> BaudRateTexts(const std::vector<BaudRate>& added) {
    std::vector<std::string> texts;
    for (const BaudRate rate : ListedBaudRates(added)) {
        texts.push_back(BaudRateText(rate));
    }
    return texts;
}

int BaudRateEntry(std::optional<BaudRate> rate, const std::vector<BaudRate>& added) {
    const std::vector<BaudRate> rates = ListedBaudRates(added);
    const auto found = std::find(rates.begin(), rates.end(), rate);
    return rate && found != rates.end() ? static_cast<int>(found - rates.begin()) : kNoSelection;
}

std::optional<BaudRate> BaudRateOfEntry(int selected, const std::vector<BaudRate>& added) {
    const std::vector<BaudRate> rates = ListedBaudRates(added);
    if (!IsValidIndex(selected, rates.size())) {
        return std::nullopt;
    }
    return rates[static_cast<std::size_t>(selected)];
}

}  // namespace quillon
