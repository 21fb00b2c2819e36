// What every main window decides (window/), without a window: the job state table, the log,
// the settings, the drop-down lists and the image file dialog. Runs on Linux and on Windows.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

#include "platform/serial_device.h"
#include "platform/utf8_path.h"
#include "platform/virtual_ports.h"
#include "tests/support/memory_store.h"
#include "tests/support/monitor_file.h"
#include "tests/support/test_files.h"
#include "window/download_window_state.h"
#include "window/image_file_dialog.h"
#include "window/log_lines.h"
#include "window/options_dialog.h"
#include "window/window_command_line.h"
#include "window/window_lists.h"
#include "window/window_settings.h"

using namespace quillon;

namespace {

namespace fs = std::filesystem;

using Lines = std::vector<std::string>;
using Window = DownloadWindowState;

// Per state (not ready, initializing, ready, downloading): the controls, whether a job runs.
const std::pair<WindowControls, bool> kShown[] = {{{true, false, "Close", true}, false},
                                                  {{false, false, "Cancel", false}, true},
                                                  {{true, true, "Close", true}, false},
                                                  {{false, false, "Close", false}, true}};

// The events by number: 1/0 for Begin's true/false, 1 (abort) or 2 (close) for button 1, else 0.
constexpr CloseButtonAction kAbort = CloseButtonAction::kRequestAbort;
const JobResult kSucceeded{JobOutcome::kSucceeded, FailureReason::kNone, ""};
const JobResult kFailed{JobOutcome::kFailed, FailureReason::kNoAnswer, "No response"};
const JobResult kAborted{JobOutcome::kAborted, FailureReason::kAborted, kAbortedLine};
const std::pair<const char*, int (*)(Window&, Lines&)> kEvents[] = {
    {"Initialize", [](Window& w, Lines&) { return w.BeginInitialize() ? 1 : 0; }},
    {"Start Download", [](Window& w, Lines&) { return w.BeginDownload() ? 1 : 0; }},
    {"button 1", [](Window& w, Lines&) { return w.OnCloseButton() == kAbort ? 1 : 2; }},
    {"succeeded", [](Window& w, Lines& l) { return l = w.OnJobDone(kSucceeded, ""), 0; }},
    {"failed", [](Window& w, Lines& l) { return l = w.OnJobDone(kFailed, ""), 0; }},
    {"aborted", [](Window& w, Lines& l) { return l = w.OnJobDone(kAborted, ""), 0; }},
};

TEST(DownloadWindowState, EveryEventInEveryState) {
    // From the state the events numbered in `path` reach, each event of kEvents in turn: what it
    // gave, the state (N I R D) and whether an abort is asked after it, "!" if it logged
    // "Aborted by user!".
    const std::pair<const char*, const char*> rows[] = {
        // path: Initialize, Start Download, button 1, succeeded, failed, aborted
        {"", "1I0 0N0 2N0 0N0 0N0 0N0"},       // not ready
        {"0", "0I0 0I0 1I1 0R0 0N0 0N0!"},     // initializing
        {"02", "0I1 0I1 2I1 0R0 0N0 0N0!"},    // initializing, abort asked
        {"03", "1I0 1D0 2R0 0R0 0R0 0R0"},     // ready
        {"031", "0D0 0D0 1D1 0R0 0N0 0N0!"},   // downloading
        {"0312", "0D1 0D1 2D1 0R0 0N0 0N0!"},  // downloading, abort asked
    };
    for (const auto& [path, expected] : rows) {
        std::string outcomes;
        for (const auto& [name, event] : kEvents) {
            SCOPED_TRACE(std::string("path ") + path + ", " + name);
            Window window;
            Lines lines;  // no path logs anything
            for (const char* step = path; *step != '\0'; ++step) {
                kEvents[*step - '0'].second(window, lines);
            }
            const int result = event(window, lines);
            const int state = static_cast<int>(window.State());
            outcomes +=
                std::to_string(result) + "NIRD"[state] + (window.AbortRequested() ? "1" : "0");
            outcomes += lines.empty() ? " " : lines == Lines{"Aborted by user!"} ? "! " : "? ";
            EXPECT_EQ(std::make_pair(window.Controls(), window.JobRunning()), kShown[state]);
            EXPECT_EQ(window.MayCloseFromFrame(), !window.JobRunning());
        }
        outcomes.pop_back();
        EXPECT_EQ(outcomes, expected) << "path " << path;
    }
}

#ifndef _WIN32  // the ownership of a device is a POSIX notion here
TEST(DownloadWindowState, JobEndLines) {
    // A port this user may not open gives the hint for its ownership, whoever runs the test:
    // here a device of the group "dialout" that the user is not in.
    const std::string port = "/dev/ttyS9";
    SerialPortAccess ownership;
    ownership.mode = 020660;
    ownership.ownerName = "root";
    ownership.groupName = "dialout";
    ownership.gid = 20;
    ownership.groupMayReadWrite = true;
    const PortPermissionHint fakeOwnership = [&ownership](const std::string& device) {
        return SerialPortPermissionAdvice(device, ownership);
    };
    const JobResult unavailable{JobOutcome::kFailed, FailureReason::kPortUnavailable, "",
                                port + ": permission denied"};
    const JobResult settings{JobOutcome::kFailed, FailureReason::kPortSettings, "",
                             port + ": not a serial device"};
    const std::pair<JobResult, Lines> rows[] = {
        {kAborted, {"Aborted by user!"}},
        {unavailable,
         {port + ": permission denied",
          "Permission denied for /dev/ttyS9: add your user to the group 'dialout' and log in "
          "again."}},
        {settings, {port + ": not a serial device"}},
        {kFailed, {}},
        {kSucceeded, {}},
    };
    for (const auto& [result, lines] : rows) {
        Window window(fakeOwnership);
        window.BeginInitialize();
        EXPECT_EQ(window.OnJobDone(result, port), lines) << static_cast<int>(result.reason);
    }
    // A port the user may open gives no hint.
    Window window([](const std::string&) { return std::string(); });
    window.BeginInitialize();
    EXPECT_EQ(window.OnJobDone(unavailable, port), Lines{port + ": permission denied"});
}
#endif

TEST(LogLines, AddAppendAndClear) {
    // 'L' adds, 'A' appends, 'C' clears: whether the change replaced the last line, the lines.
    const std::tuple<char, std::string, bool, Lines> steps[] = {
        {'A', "*", false, {"*"}},  // an empty log: the text is a line of its own
        {'L', "Programming", false, {"*", "Programming"}},
        {'A', "*", true, {"*", "Programming*"}},
        {'C', "", false, {}},
        {'A', "*", false, {"*"}},  // after Clear the next append is a line of its own
        {'L', "", false, {"*", ""}},
        {'A', "x", true, {"*", "x"}},  // an empty last line is still a line
    };
    LogLines log;
    for (const auto& [op, text, replaces, lines] : steps) {
        SCOPED_TRACE(op + text);
        if (op == 'C') {
            log.Clear();
        } else {
            const LogLines::Change c = op == 'L' ? log.Add(text) : log.AppendToLast(text);
            EXPECT_EQ(std::tie(c.index, c.text, c.replacesLast),
                      std::make_tuple(lines.size() - 1, lines.back(), replaces));
        }
        EXPECT_EQ(log.Lines(), lines);
        EXPECT_EQ(log.Last(), lines.empty() ? "" : lines.back());
    }
}

// The Options dialog takes what the settings reader takes, writes it at once and keeps the
// settings as they were on anything else.
TEST(OptionsDialogTest, EchoWindowIsCheckedByTheReadersRule) {
    const std::pair<std::string, std::optional<std::uint32_t>> rows[] = {
        {"32", 32},
        {" +16\t", 16},
        {"1", 1},
        {"1024", 1024},
        {"1025", std::nullopt},
        {"0", std::nullopt},
        {"-8", std::nullopt},
        {"8x", std::nullopt},
        {"", std::nullopt},
        {"3.5", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& [text, bytes] : rows) {
        SCOPED_TRACE(text);
        WindowSettings settings;
        settings.echoWindow = EchoWindow{7};
        const WindowSettings before = settings;
        MemoryStore store;
        OptionsDialog dialog(settings);
        EXPECT_EQ(dialog.EchoWindowText(), "7");
        const Status accepted = dialog.Accept(text, dialog.AddedBaudRatesText(), settings, store);
        ASSERT_EQ(accepted.has_value(), bytes.has_value());
        if (!bytes) {
            EXPECT_EQ(accepted.error().text,
                      "The echo window must be a number from 1 to 1024 (bytes).");
            EXPECT_EQ(settings, before);
            EXPECT_TRUE(store.writes.empty());
            continue;
        }
        EXPECT_EQ(settings.echoWindow, EchoWindow{*bytes});
        EXPECT_EQ(store.writes, Lines{"Settings/EchoWindow=" + std::to_string(*bytes) + " (int)"});
        // What was typed reads the same from the store as written.
        EXPECT_EQ(EchoWindowFromText(text), EchoWindow{*bytes});
        EXPECT_EQ(LoadWindowSettings(store).echoWindow, EchoWindow{*bytes});
        EXPECT_EQ(dialog.EchoWindowText(), std::to_string(*bytes));
    }
}

// The added baud rates, typed or stored: decimal rates in the range apart by spaces or
// commas, kept slowest first and once, the offered ones left to the list.
TEST(OptionsDialogTest, AddedBaudRatesAreCheckedByTheReadersRule) {
    const std::pair<std::string, std::optional<std::string>> rows[] = {
        {"", ""},
        {"250000 1000000", "250000 1000000"},
        {" 1000000,250000  250000 ,", "250000 1000000"},
        {"115200 250000 9600", "250000"},
        {"300 4000000", "300 4000000"},
        {"299", std::nullopt},
        {"250000 25k", std::nullopt},
        {"250000;1000000", std::nullopt},
        {"4000001", std::nullopt},
    };
    for (const auto& [text, added] : rows) {
        SCOPED_TRACE(text);
        WindowSettings settings;
        settings.addedBaudRates = {BaudRate{250000}};
        const WindowSettings before = settings;
        MemoryStore store;
        OptionsDialog dialog(settings);
        EXPECT_EQ(dialog.AddedBaudRatesText(), "250000");
        const Status accepted = dialog.Accept("1", text, settings, store);
        ASSERT_EQ(accepted.has_value(), added.has_value());
        if (!added) {
            EXPECT_EQ(accepted.error().text,
                      "The added baud rates must be decimal rates from 300 "
                      "to 4000000, apart by spaces.");
            EXPECT_EQ(dialog.refusedField(), OptionsDialog::Field::kAddedBaudRates);
            EXPECT_EQ(settings, before);
            EXPECT_TRUE(store.writes.empty());
            EXPECT_TRUE(AddedBaudRatesFromText(text).empty()) << "a refused text adds none";
            continue;
        }
        EXPECT_EQ(dialog.AddedBaudRatesText(), *added);
        const bool changed = *added != "250000";
        EXPECT_EQ(store.writes.size(), changed ? 2u : 1u) << "the rates only when they changed";
        if (changed) {
            EXPECT_EQ(store.writes.back(), "Settings/AddedBaudrates=" + *added);
        }
        EXPECT_EQ(AddedBaudRatesText(LoadWindowSettings(store).addedBaudRates),
                  changed ? *added : "");
        EXPECT_EQ(AddedBaudRatesText(settings.addedBaudRates), *added);
    }
}

TEST(WindowSettings, LoadAndSave) {
    // Only EraseAll stored, as this text (or not at all): the defaults and its value.
    const std::pair<std::optional<std::string>, int> rows[] = {
        {std::nullopt, 1}, {"0", 0},   {"2", 1},       {"-1", 1},  {"-0", 0},
        {"+0", 0},         {" 0 ", 0}, {"\t0\r\n", 0}, {"", 1},    {"abc", 1},
        {"0x0", 1},        {"0.0", 1}, {"+-0", 1},     {"- 0", 1}, {"2147483648", 1},
    };
    for (const auto& [text, eraseAll] : rows) {
        SCOPED_TRACE(text.value_or("(missing)"));
        EXPECT_EQ(EraseAllFromText(text), eraseAll);
        MemoryStore store;
        if (text) {
            store.values["Settings/EraseAll"] = *text;
        }
        EXPECT_EQ(LoadWindowSettings(store),
                  (WindowSettings{"", "COM1", BaudRate{57600}, eraseAll}));
        EXPECT_TRUE(store.writes.empty());
    }
    // EchoWindow as stored: 1 to 1024 as it is, anything else 1; never written.
    const std::pair<std::optional<std::string>, std::uint32_t> windows[] = {
        {std::nullopt, 1}, {"32", 32}, {" 16\r\n", 16}, {"1024", 1024}, {"1025", 1},
        {"0", 1},          {"-8", 1},  {"8x", 1},       {"", 1},
    };
    for (const auto& [text, window] : windows) {
        SCOPED_TRACE(text.value_or("(missing)"));
        MemoryStore store;
        if (text) {
            store.values["Settings/EchoWindow"] = *text;
        }
        EXPECT_EQ(LoadWindowSettings(store).echoWindow, EchoWindow{window});
    }
    // Saved in this order; read back as stored.
    const WindowSettings settings{"Prüfstand 40MHz  ", "/dev/ttyUSB0", BaudRate{9600}, 0};
    MemoryStore store;
    SaveWindowSettings(store, settings);
    EXPECT_EQ(store.writes, (Lines{"Last Connection/Target=Prüfstand 40MHz  ",
                                   "Last Connection/COMPort=/dev/ttyUSB0",
                                   "Last Connection/Baudrate=9600", "Settings/EraseAll=0 (int)"}));
    EXPECT_EQ(LoadWindowSettings(store), settings);
    // A stored rate that names none offered selects nothing and stays as it was.
    store.values["Last Connection/Baudrate"] = "1200";
    store.writes.clear();
    SaveWindowSettings(store, LoadWindowSettings(store));
    EXPECT_EQ(store.values["Last Connection/Baudrate"], "1200");
    EXPECT_EQ(store.writes.size(), 3u);
    EXPECT_TRUE(SettingsSavedOn(kDialogResultOk));  // only the OK result saves
    EXPECT_FALSE(SettingsSavedOn(kDialogResultCancel) || SettingsSavedOn(0));
}

// A settings file is used only when it is a regular file within its bound, or nothing yet:
// anything else is left alone, and the log line says which file, what it is and what follows.
TEST(WindowSettings, OnlyARegularSettingsFileWithinItsBoundIsUsed) {
    const TempDir dir;
    const auto at = [&dir](const char* name) { return (dir.path() / name).string(); };
    dir.Write("Quillon.conf", "[Settings]\nEraseAll=0\n");
    fs::create_directory(at("folder"));
    fs::resize_file(dir.Write("giant", ""), kSettingsFileLimit + 1);
    std::vector<std::pair<std::string, std::string>> cases = {
        {at("Quillon.conf"), ""},
        {at("missing"), ""},
        {at("folder"), "is a folder"},
        {at("giant"), "is larger than 1 MiB"},
    };
#ifndef _WIN32
    ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", at("zero"));
    cases.push_back({at("fifo"), "is not a regular file"});
    cases.push_back({at("zero"), "is not a regular file"});
#endif
    for (const auto& [path, says] : cases) {
        const Status usable = CheckSettingsFile(path);
        EXPECT_EQ(usable ? "" : usable.error().text,
                  says.empty() ? ""
                               : "The settings file " + path + " " + says +
                                     ": the window starts with the defaults and saves nothing "
                                     "there.");
    }
}

// An enumerator that reports `ports` in this order and then succeeds (`result` 1) or fails.
PortEnumerator Ports(Lines ports, int result) {
    return [=](std::vector<PortEntry>& listed) {
        for (const std::string& port : ports) {
            listed.push_back({port, port});
        }
        return result == 1 ? Status() : Status(Fail(ErrorKind::kAccessDenied, "error 5"));
    };
}

TEST(WindowLists, PortAndBaudrateLists) {
    const std::tuple<Lines, int, std::string, Lines, int> rows[] = {
        // reported, enumeration result, stored: listed, selected
        {{"COM3", "com10", "COM1", "COM2"}, 1, "COM1", {"COM1", "com10", "COM2", "COM3"}, 0},
        {{"COM10", "COM2"}, 1, "COM1", {"COM10", "COM2"}, 0},  // COM1 selects COM10
        {{"COM10", "COM2"}, 1, "com2", {"COM10", "COM2"}, 1},
        {{"COM10", "COM2"}, 1, "", {"COM10", "COM2"}, 0},  // the empty name begins every name
        {{"COM2", "COM1"}, 0, "COM1", {"COM1", "COM2"}, kNoSelection},  // failed: listed, none
        {{"b", "B", "a"}, 1, "x", {"a", "b", "B"}, kNoSelection},       // equal names as reported
        // network ports after the local ones, in their list's order
        {{"socket://b:1", "COM2", "rfc2217://a:2", "COM1"},
         1,
         "COM1",
         {"COM1", "COM2", "socket://b:1", "rfc2217://a:2"},
         0},
    };
    for (const auto& [reported, result, stored, ports, selected] : rows) {
        const PortListEntries list =
            LoadPortListEntries(Ports(reported, result), stored, MissingPortChoice::kNoSelection);
        EXPECT_EQ(std::tie(list.ports, list.selected), std::tie(ports, selected)) << stored;
    }
    // With device paths a stored name that is not listed (the default COM1) selects the first,
    // a USB adapter before a built-in port.
    const std::tuple<Lines, int, std::string, int> paths[] = {
        {{"/dev/ttyUSB0", "/dev/ttyS0"}, 1, "COM1", 1},
        {{"/dev/ttyUSB0", "/dev/ttyS0"}, 1, "/dev/ttyUSB0", 1},
        {{"/dev/ttyUSB0"}, 0, "COM1", kNoSelection},  // after a failure, still none
        {{}, 1, "COM1", kNoSelection},
    };
    for (const auto& [reported, result, stored, selected] : paths) {
        EXPECT_EQ(
            LoadPortListEntries(Ports(reported, result), stored, MissingPortChoice::kFirstPort)
                .selected,
            selected)
            << stored;
    }
    // A reload keeps exactly the selected name; without a selection the stored COM1 counts.
    const std::tuple<PortListEntries, Lines, int, int> reloads[] = {
        // before, reported, enumeration result: selected
        {{{"COM1", "COM3"}, 1}, {"COM2", "COM3", "COM4"}, 1, 1},
        {{{"COM1", "COM3"}, 0}, {"COM10", "COM2"}, 1, kNoSelection},  // COM1 gone: not COM10
        {{{"COM1", "COM3"}, 0}, {"com1"}, 1, kNoSelection},
        {{{"COM1", "COM3"}, 1}, {"COM3"}, 0, 0},  // also after a failure
        {{{"COM5"}, kNoSelection}, {"COM10", "COM2"}, 1, 0},
        {{{"COM5"}, kNoSelection}, {"COM10", "COM2"}, 0, kNoSelection},
    };
    for (const auto& [before, after, ok, selected] : reloads) {
        EXPECT_EQ(
            ReloadPortListEntries(Ports(after, ok), before, "COM1", MissingPortChoice::kNoSelection)
                .selected,
            selected);
    }
    // The selected port; none without a selection.
    EXPECT_EQ(SelectedPort({{"COM2", "COM3"}, kNoSelection}), std::nullopt);
    EXPECT_EQ(SelectedPort({{"COM2", "COM3"}, 1}), "COM3");
    EXPECT_EQ(BaudRateTexts(), (Lines{"9600", "19200", "38400", "57600", "115200"}));
    // The entry a stored text selects, then the rate of that entry.
    const std::tuple<std::string, int, std::string> rates[] = {
        {"57600", 3, "57600"},          {"1", 1, "19200"}, {"115200", 4, "115200"}, {"", 0, "9600"},
        {"1200", kNoSelection, "none"},
    };
    for (const auto& [stored, selected, rate] : rates) {
        EXPECT_EQ(BaudRateEntry(BaudRateFromSetting(stored)), selected) << stored;
        const std::optional<BaudRate> entryRate = BaudRateOfEntry(selected);
        EXPECT_EQ(entryRate ? BaudRateText(*entryRate) : "none", rate);
    }
    EXPECT_EQ(BaudRateOfEntry(5), std::nullopt);
}

// The first port chosen in place of a missing stored one, whether the stored one is missing,
// and the descriptions kept with their ports through the sort.
TEST(WindowLists, FirstPortAndMissingStoredPort) {
    using Entries = std::vector<PortEntry>;
    const Entries board = {{"/dev/ttyS1", "/dev/ttyS1"},
                           {"/dev/ttyS0", "serial8250"},
                           {"/dev/ttyUSB0", "Adapter One"},
                           {"/dev/ttyACM0", "Board Two"}};
    const Entries virtualLink = {{"/dev/ttyS0", "/dev/ttyS0"},
                                 {"/run/q/port-1", kVirtualPortFriendlyName}};
    const Entries builtIn = {{"/dev/ttyS1", "/dev/ttyS1"}, {"/dev/ttyS0", "/dev/ttyS0"}};
    const auto first = MissingPortChoice::kFirstPort;
    const auto none = MissingPortChoice::kNoSelection;
    const std::tuple<Entries, bool, std::string, MissingPortChoice, std::string, bool> rows[] = {
        // reported, enumerated, stored, choice: selected, stored missing
        {board, true, "/dev/ttyUSB3", first, "/dev/ttyACM0", true},
        {board, true, "/dev/ttyS0", first, "/dev/ttyS0", false},
        {board, true, "COM1", first, "/dev/ttyACM0", false},  // the default names nothing saved
        {virtualLink, true, "COM1", first, "/run/q/port-1", false},
        {builtIn, true, "/dev/ttyUSB0", first, "/dev/ttyS0", true},
        {{}, true, "/dev/ttyUSB0", first, "none", true},
        {board, false, "/dev/ttyUSB3", first, "none", false},  // not known after a failure
        {{{"COM3", "COM3"}}, true, "COM5", none, "none", true},
        {{{"COM3", "COM3"}}, true, "COM1", none, "none", false},
    };
    for (const auto& [reported, enumerated, stored, choice, selected, missing] : rows) {
        const PortListEntries list = LoadPortListEntries(
            [&reported = reported, ok = enumerated](std::vector<PortEntry>& ports) {
                ports = reported;
                return ok ? Status() : Status(Fail(ErrorKind::kIo, "error 5"));
            },
            stored, choice);
        EXPECT_EQ(std::make_tuple(SelectedPort(list).value_or("none"), list.storedMissing),
                  std::tie(selected, missing))
            << stored;
    }
    const PortListEntries sorted = LoadPortListEntries(
        [&](std::vector<PortEntry>& ports) {
            ports = board;
            return Status();
        },
        "", first);
    EXPECT_EQ(sorted.descriptions, (Lines{"Board Two", "serial8250", "/dev/ttyS1", "Adapter One"}));
    EXPECT_EQ(MissingPortLine(true, "/dev/ttyUSB3", "/dev/ttyUSB0"),
              "Saved port /dev/ttyUSB3 is not present; selected /dev/ttyUSB0.");
    EXPECT_EQ(MissingPortLine(false, "/dev/ttyUSB3", std::nullopt),
              "Port /dev/ttyUSB3 is not present; no port selected.");
}

fs::path WriteMonitorFile(const TempDir& dir, const std::string& file, const std::string& name) {
    MonitorFileSpec monitor;
    monitor.targetName = name;
    return PathFromUtf8(dir.Write(file, monitor.HexText()));
}

TEST(WindowLists, TargetList) {
    TempDir system, user;
    Lines messages;
    const ReaderMessageSink sink = [&messages](const std::string&, const std::string& text) {
        messages.push_back(text);
    };
    WriteMonitorFile(system, "Mon_1.h86", "Gamma");
    WriteMonitorFile(system, "Mon_2.H86", "alpha 40MHz");
    WriteMonitorFile(system, "Mon_3.h86", "Beta");
    system.Write("notes.txt", "not a monitor file");
    const fs::path beta = WriteMonitorFile(user, "Mon_u.h86", "BETA");  // hides "Beta"
    const TargetFolders folders{{Utf8FromPath(system.path())}, Utf8FromPath(user.path())};
    // Sorted by name, letter case ignored; each file's path stays with its name.
    const TargetListEntries list = LoadTargetListEntries(folders, "beta", sink);
    Lines names;
    for (const MonitorFileEntry& entry : list.entries) {
        names.push_back(entry.displayName);
    }
    ASSERT_EQ(names, (Lines{"alpha 40MHz", "BETA", "Gamma"}));
    const std::pair<std::string, int> rows[] = {
        {"ALPHA", 0}, {"beta", 1}, {"g", 2}, {"alpha 40MHz+", kNoSelection}, {"", kNoSelection}};
    for (const auto& [stored, selected] : rows) {
        EXPECT_EQ(LoadTargetListEntries(folders, stored).selected, selected) << stored;
        EXPECT_EQ(SelectTargetEntry(list.entries, stored), selected) << stored;
    }
    // The selected entry with its path; none without a selection.
    EXPECT_FALSE(SelectedTarget({list.entries, kNoSelection}));
    EXPECT_FALSE(SelectedTarget({list.entries, 3}));
    const std::optional<MonitorFileEntry> selected = SelectedTarget({list.entries, 1});
    ASSERT_TRUE(selected);
    EXPECT_TRUE(fs::equivalent(PathFromUtf8(selected->path), beta));
    EXPECT_EQ(selected->displayName, "BETA");
    EXPECT_TRUE(messages.empty());
    // A list of one is selected whatever was stored; an empty one selects nothing.
    for (const char* stored : {"", "Something else"}) {
        EXPECT_EQ(LoadTargetListEntries({{}, Utf8FromPath(user.path())}, stored).selected, 0);
    }
    const TargetFolders missing{{Utf8FromPath(system.path() / "missing")}, ""};
    EXPECT_EQ(LoadTargetListEntries(missing, "BETA").selected, kNoSelection);
}

// `path` as ChooseBrowseStart gives it back: absolute, with the platform's separators.
std::string Native(const fs::path& path) {
    return Utf8FromPath(fs::absolute(path).lexically_normal().make_preferred());
}

TEST(ImageFileDialog, FilterAndBrowseStart) {
    const std::pair<std::string, std::vector<FileFilterEntry>> filters[] = {
        {kImageFileDialogFilter, {{"Hex-Dateien (*.hex; *.h86)", {"*.hex", "*.h86"}}}},
        {"All files (*.*)|*.*||", {{"All files (*.*)", {"*.*"}}}},
        {"A|*.a|B| *.b ; *.c ;;|", {{"A", {"*.a"}}, {"B", {"*.b", "*.c"}}}},
        {"A|*.a||B|*.b|", {{"A", {"*.a"}}}},  // an empty description ends the list
        {"A|*.a|B", {{"A", {"*.a"}}}},        // a description without patterns is left out
        {"A||", {{"A", {}}}},
    };
    for (const auto& [filter, entries] : filters) {
        EXPECT_EQ(ParseFileFilter(filter), entries) << filter;
    }
    TempDir dir;
    const fs::path folder = dir.path() / PathFromUtf8("Bilder ü");
    fs::create_directories(folder);
    std::ofstream(folder / "a.hex") << ":00000001FF\n";
    const std::string folderText = Utf8FromPath(folder), fileText = Utf8FromPath(folder / "a.hex");
    const std::string other = Utf8FromPath(dir.path()), missing = other + "/missing/b.hex";
    const BrowseStart atFolder{Native(folder), ""}, atDefault{Native(dir.path()), ""};
    const BrowseStart atFile{Native(folder), Native(folder / "a.hex")};
    const std::string drive = Utf8FromPath(fs::current_path().root_name());  // "C:" or ""
    const std::string root = Native(drive + "/");
    const std::tuple<std::string, std::string, BrowseStart> rows[] = {
        // text, default path: where the dialog opens
        {folderText, "", atFolder},
        {folderText + "\\", other, atFolder},  // one trailing separator is dropped
        {fileText, "", atFile},
        {fileText + "/", other, atFile},
        {Utf8FromPath(folder / ".." / PathFromUtf8("Bilder ü") / "." / "a.hex"), "", atFile},
        {missing, "", {}},
        {missing, other, atDefault},
        {missing, fileText, {}},  // a default that is a file opens nothing
        {"", other, atDefault},   // no text: the default path
        {"", fileText, atFile},   // ... which may name a file
        {"", "", {}},
        {".", "", {Native(fs::current_path()), ""}},
        {drive + "/", "", {root, ""}},  // a root keeps its separator
#ifdef _WIN32
        {drive, "", {root, ""}},  // a drive alone stands for its root
        {drive + "\\", "", {root, ""}},
#endif
    };
    for (const auto& [text, defaultPath, expected] : rows) {
        const BrowseStart start = ChooseBrowseStart(text, defaultPath);
        EXPECT_EQ(std::tie(start.folder, start.file), std::tie(expected.folder, expected.file))
            << text << " | " << defaultPath;
    }
}

}  // namespace

namespace {

TEST(WindowCommandLine, OptionsFilesAndMistakes) {
    using Action = WindowCommandLine::Action;
    const std::optional<Action> kUsageError;
    const std::tuple<std::vector<std::string>, std::optional<Action>, std::string, std::string>
        rows[] = {
            // arguments: action, image file, error
            {{}, Action::kOpen, "", ""},
            {{"fw.hex"}, Action::kOpen, "fw.hex", ""},
            {{"a.hex", "b.hex"}, Action::kOpen, "a.hex", ""},  // the first file counts
            {{"--help"}, Action::kHelp, "", ""},
            {{"fw.hex", "-h"}, Action::kHelp, "", ""},
            {{"--version"}, Action::kVersion, "", ""},
            {{"--", "--version"}, Action::kOpen, "--version", ""},  // after "--" only files
            {{"--", "-"}, Action::kOpen, "-", ""},
            {{"-"}, Action::kOpen, "-", ""},  // a lone dash names a file
            {{"-platform", "offscreen"}, kUsageError, "", "unknown option -platform"},
            {{"--verbose", "--help"}, kUsageError, "", "unknown option --verbose"},
            {{"--help", "--verbose"}, Action::kHelp, "", ""},
            {{"--port"}, kUsageError, "", "option --port needs a value"},
            {{"--port="}, kUsageError, "", "--port needs a name"},
            {{"--baud", "4800"},
             kUsageError,
             "",
             "baud rate '4800' is not one of 9600, 19200, 38400, 57600, 115200"},
            {{"--baud=57600x"},
             kUsageError,
             "",
             "baud rate '57600x' is not one of 9600, 19200, 38400, 57600, 115200"},
        };
    for (const auto& [arguments, action, file, error] : rows) {
        // As the program checks it: parsed, then its rate against a list without added rates.
        Result<WindowCommandLine> parsed = ParseWindowCommandLine(arguments);
        if (const Status listed = parsed ? CheckListedBaudRate(parsed->selection, {}) : Status();
            !listed) {
            parsed = Fail(listed.error());
        }
        const std::optional<Action> parsedAction =
            parsed ? std::optional<Action>(parsed->action) : std::nullopt;
        EXPECT_EQ(std::make_tuple(parsedAction, parsed ? parsed->imageFile : "",
                                  parsed ? "" : parsed.error().text),
                  std::tie(action, file, error))
            << (arguments.empty() ? "" : arguments[0]);
    }
    // The selections, each parsed once into its value; the rest as before.
    const std::tuple<std::vector<std::string>, StartSelection, std::string> selections[] = {
        {{"fw.hex"}, {}, "fw.hex"},
        {{"--port", "/dev/pts/7", "--target", "Virtual Target", "--baud", "115200", "fw.hex"},
         {"Virtual Target", "/dev/pts/7", BaudRate{115200}},
         "fw.hex"},
        {{"--baud=9600", "--port=COM3", "--", "--target"},
         {{}, "COM3", BaudRate{9600}},
         "--target"},
    };
    for (const auto& [arguments, selection, file] : selections) {
        const Result<WindowCommandLine> parsed = ParseWindowCommandLine(arguments);
        ASSERT_TRUE(parsed) << parsed.error().text;
        EXPECT_EQ(std::tie(parsed->selection, parsed->imageFile), std::tie(selection, file));
    }
    // A rate the Options dialog added is one of the list too; the error names the whole list.
    const std::tuple<std::string, std::vector<BaudRate>, std::string> added[] = {
        {"250000", {{250000}}, ""},
        {"250000", {{1000000}}, "9600, 19200, 38400, 57600, 115200, 1000000"},
        {"4800", {{1000000}, {250000}}, "9600, 19200, 38400, 57600, 115200, 250000, 1000000"},
    };
    for (const auto& [rate, rates, listed] : added) {
        const Result<WindowCommandLine> parsed = ParseWindowCommandLine({"--baud", rate});
        ASSERT_TRUE(parsed) << parsed.error().text;
        const Status checked = CheckListedBaudRate(parsed->selection, rates);
        EXPECT_EQ(checked ? "" : checked.error().text,
                  listed.empty() ? "" : "baud rate '" + rate + "' is not one of " + listed);
    }
    // --production opens the production view with the image in its setup; the main
    // window's selections do not go with it.
    const std::tuple<std::vector<std::string>, bool, std::string> production[] = {
        {{"--production"}, true, ""},
        {{"--production", "fw.hex"}, true, "fw.hex"},
        {{"fw.hex"}, false, "fw.hex"},
        {{"--production", "--port", "COM3"},
         false,
         "--production takes no --port, --target or --baud"},
    };
    for (const auto& [arguments, opens, fileOrError] : production) {
        const Result<WindowCommandLine> parsed = ParseWindowCommandLine(arguments);
        EXPECT_EQ(parsed ? parsed->imageFile : parsed.error().text, fileOrError);
        EXPECT_EQ(parsed && parsed->production, opens);
    }
    // A target is one of the list, by its listed name.
    const std::vector<MonitorFileEntry> targets = {{"Virtual Target", "/t/Mon_V.h86"},
                                                   {"Virtual Target 2", "/t/Mon_V2.h86"}};
    EXPECT_EQ(ListedTargetName(targets, "virtual TARGET").value_or("-"), "Virtual Target");
    // Names shown on a terminal: a control character cannot move its cursor.
    const std::tuple<std::vector<MonitorFileEntry>, std::string, std::string> unknown[] = {
        {targets, "Virtual", "'Virtual'; known targets: Virtual Target, Virtual Target 2"},
        {{}, "A\x1b[2J", "'A\\x1B[2J'; known targets: none"},
        {{{"B\rC", "/t/Mon_B.h86"}}, "x", "'x'; known targets: B\\x0DC"},
    };
    for (const auto& [entries, name, error] : unknown) {
        const Result<std::string> listed = ListedTargetName(entries, name);
        ASSERT_FALSE(listed);
        EXPECT_EQ(std::make_pair(listed.error().kind, listed.error().text),
                  std::make_pair(ErrorKind::kUsage, "unknown target " + error));
    }
}

}  // namespace
