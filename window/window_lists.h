#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "image/monitor_file_catalog.h"
#include "image/target_folders.h"
#include "platform/baud_rate.h"
#include "platform/device_node.h"
#include "ports/com_ports.h"

namespace quillon {

// The entries of the main window's three drop-down lists and how each selection is restored
// from the settings and read back when a job starts. A window shows the entries in the given
// order, selects the given index (-1: none) and hands the selected index back.

// Nothing selected.
inline constexpr int kNoSelection = -1;

// The index of the first of `texts` that begins with `prefix`, letter case ignored (ASCII),
// or kNoSelection. The empty prefix begins every text.
int FirstEntryBeginningWith(const std::vector<std::string>& texts, const std::string& prefix);

// --- Target list -----------------------------------------------------------------------
// One entry per monitor file of the target folders, shown under its display name and sorted
// by name with letter case ignored (equal names by path); the file's path stays with the
// entry. The selection: the first entry whose name begins with the stored target name (an
// empty one selects nothing), and the only entry of a list of one whatever was stored.
struct TargetListEntries {
    std::vector<MonitorFileEntry> entries;
    int selected = kNoSelection;
};

// Scans `folders` (each file read once for its name; the reader's texts go to `onMessage`, file
// by file as they are read) and selects as above.
TargetListEntries LoadTargetListEntries(const TargetFolders& folders,
                                        const std::string& storedTarget,
                                        const ReaderMessageSink& onMessage = nullptr);
// The selection rule alone, for entries already sorted.
int SelectTargetEntry(const std::vector<MonitorFileEntry>& entries,
                      const std::string& storedTarget);
// Entry `selected`, or none without a selection.
std::optional<MonitorFileEntry> SelectedTarget(const TargetListEntries& list);

// --- Port list -------------------------------------------------------------------------
// The serial ports by their port names, sorted with letter case ignored. Selection: the first
// port that begins with the stored name after a successful enumeration, none after a failed
// one (the ports reported before the failure stay listed). An empty stored name begins every
// name and selects the first port (as the Qt window always did).
// An empty enumerator stands for EnumerateComPorts; its notes on the user's list of ports
// (lines left out, a file not read) go to `notes` when given, for the log.
using PortEnumerator = std::function<Status(std::vector<PortEntry>& ports)>;

struct PortListEntries {
    std::vector<std::string> ports;
    int selected = kNoSelection;
    // Each port's description, in the order of `ports` (the port name again where the system
    // has none); the open list shows it beside the name.
    std::vector<std::string> descriptions = {};
    // After a successful enumeration: no listed port begins with the stored name. The default
    // name (kDefaultPortName), which a first start reads, stands for nothing saved.
    bool storedMissing = false;
};

// What the list selects when no listed port begins with the stored name: nothing (with "COMn"
// names, where the operator should notice that the port is missing), or the first port (with
// device paths, where the stored default "COM1" names none and would leave the first start
// without a usable port).
// The first port is the first of the list that is a USB adapter (ttyUSB, ttyACM) or a virtual
// target's link, else the first of the list: a built-in ttyS port is rarely the board.
enum class MissingPortChoice { kNoSelection, kFirstPort };
inline constexpr MissingPortChoice kMissingPortChoice =
    kPortNamesAreComNames ? MissingPortChoice::kNoSelection : MissingPortChoice::kFirstPort;

PortListEntries LoadPortListEntries(const PortEnumerator& enumerate, const std::string& storedPort,
                                    MissingPortChoice missing = kMissingPortChoice,
                                    std::vector<std::string>* notes = nullptr);
// Reads the ports again for a list that shows `previous`: the port selected there stays
// selected while it is listed (exactly that name); one that is gone leaves no selection;
// without a previous selection `storedPort` is selected as LoadPortListEntries does.
PortListEntries ReloadPortListEntries(const PortEnumerator& enumerate,
                                      const PortListEntries& previous,
                                      const std::string& storedPort,
                                      MissingPortChoice missing = kMissingPortChoice,
                                      std::vector<std::string>* notes = nullptr);
// The selected port, or none.
std::optional<std::string> SelectedPort(const PortListEntries& list);
// What the open port list shows for a port: its name, and its description beside it unless
// that only repeats the name. The closed list shows the name alone.
std::string OpenPortListText(const std::string& name, const std::string& description);
// The log line for a wanted port that is not listed: `saved` when it came from the settings
// (else from the command line), and the port selected in its place, if any.
std::string MissingPortLine(bool saved, const std::string& port,
                            const std::optional<std::string>& selected);

// --- Baud rate list --------------------------------------------------------------------
// The offered rates (kBaudRates: 9600, 19200, 38400, 57600, 115200) and those the operator
// added in the Options dialog (`added`, AddedBaudRatesOfText's form), slowest first.
std::vector<BaudRate> ListedBaudRates(const std::vector<BaudRate>& added = {});
// The entries' texts ("%ld" of each rate).
std::vector<std::string> BaudRateTexts(const std::vector<BaudRate>& added = {});
// The entry of `rate`, or kNoSelection for none or a rate not listed.
int BaudRateEntry(std::optional<BaudRate> rate, const std::vector<BaudRate>& added = {});
// The rate of entry `selected`, or none without a selection.
std::optional<BaudRate> BaudRateOfEntry(int selected, const std::vector<BaudRate>& added = {});

}  // namespace quillon
