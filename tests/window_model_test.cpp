// What every main window decides (window/), without a window: the job state table, the log,
// the settings, the drop-down lists and the image file dialog. Runs on Linux and on Windows.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "link/serial_link.h"
#include "platform/utf8_path.h"
#include "tests/support/monitor_file.h"
#include "tests/support/test_files.h"
#include "window/download_window_state.h"
#include "window/image_file_dialog.h"
#include "window/log_lines.h"
#include "window/window_lists.h"
#include "window/window_settings.h"

namespace {

namespace fs = std::filesystem;

using Lines = std::vector<std::string>;

// --- Job state -------------------------------------------------------------------------

// Where a table row starts: a state, and for the two job states whether an abort was asked.
enum class Start {
    kNotReady,
    kInitializing,
    kInitAbortAsked,
    kReady,
    kDownloading,
    kDownloadAbortAsked
};

const char* NameOf(Start start) {
    static const char* const kNames[] = {"not ready", "initializing", "initializing, abort asked",
                                         "ready",     "downloading",  "downloading, abort asked"};
    return kNames[static_cast<int>(start)];
}

// Brings `state` to `start` the way a window does.
void Reach(DownloadWindowState& state, Start start) {
    if (start == Start::kNotReady) {
        return;
    }
    ASSERT_TRUE(state.BeginInitialize());
    if (start == Start::kInitAbortAsked) {
        ASSERT_EQ(state.OnCloseButton(), CloseButtonAction::kRequestAbort);
    }
    if (start == Start::kInitializing || start == Start::kInitAbortAsked) {
        return;
    }
    ASSERT_TRUE(state.OnJobDone(false, true, "", "").empty());
    if (start == Start::kReady) {
        return;
    }
    ASSERT_TRUE(state.BeginDownload());
    if (start == Start::kDownloadAbortAsked) {
        ASSERT_EQ(state.OnCloseButton(), CloseButtonAction::kRequestAbort);
    }
}

const WindowControls kNotReadyControls{true, false, "Close", true};
const WindowControls kInitializingControls{false, false, "Cancel", false};
const WindowControls kReadyControls{true, true, "Close", true};
const WindowControls kDownloadingControls{false, false, "Close", false};

TEST(DownloadWindowState, EachStateShowsItsControlsAndFlag) {
    struct Row {
        Start start;
        WindowJobState state;
        WindowControls controls;
        bool running;
        int flag;
    };
    const Row rows[] = {
        {Start::kNotReady, WindowJobState::kNotReady, kNotReadyControls, false, 1},
        {Start::kInitializing, WindowJobState::kInitializing, kInitializingControls, true, 0},
        {Start::kInitAbortAsked, WindowJobState::kInitializing, kInitializingControls, true, 1},
        {Start::kReady, WindowJobState::kReady, kReadyControls, false, 1},
        {Start::kDownloading, WindowJobState::kDownloading, kDownloadingControls, true, 0},
        {Start::kDownloadAbortAsked, WindowJobState::kDownloading, kDownloadingControls, true, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(NameOf(row.start));
        std::atomic<int> flag{1};
        DownloadWindowState state(flag);
        Reach(state, row.start);
        EXPECT_EQ(state.State(), row.state);
        EXPECT_EQ(state.Controls(), row.controls);
        EXPECT_EQ(state.JobRunning(), row.running);
        EXPECT_EQ(state.MayCloseFromFrame(), !row.running);
        EXPECT_EQ(flag.load(), row.flag);
    }
}

// Every event in every state: what it returns, the state and the abort flag afterwards.
enum class Event {
    kInitialize,
    kDownload,
    kCloseButton,
    kSucceeded,
    kFailed,
    kAborted,
    kWorkerEnded
};

const char* NameOf(Event event) {
    static const char* const kNames[] = {"Initialize",      "Start Download", "button 1",
                                         "done, succeeded", "done, failed",   "done, aborted",
                                         "worker ended"};
    return kNames[static_cast<int>(event)];
}

// What an event gave back: 1/0 for the Begin calls' true/false, 1 (abort) or 2 (close the
// window) for button 1, 0 otherwise; a done message's log lines go to `lines`.
int Apply(DownloadWindowState& state, Event event, Lines& lines) {
    switch (event) {
        case Event::kInitialize:
            return state.BeginInitialize() ? 1 : 0;
        case Event::kDownload:
            return state.BeginDownload() ? 1 : 0;
        case Event::kCloseButton:
            return state.OnCloseButton() == CloseButtonAction::kRequestAbort ? 1 : 2;
        case Event::kSucceeded:
            lines = state.OnJobDone(false, true, "", "COM1");
            break;
        case Event::kFailed:
            lines = state.OnJobDone(false, false, "Timeout!", "COM1");
            break;
        case Event::kAborted:
            lines = state.OnJobDone(true, false, "", "COM1");
            break;
        case Event::kWorkerEnded:
            state.OnWorkerEnded();
            break;
    }
    return 0;
}

TEST(DownloadWindowState, EveryEventInEveryState) {
    using S = WindowJobState;
    const Lines aborted{"Aborted by user!"};
    struct Row {
        Start start;
        Event event;
        int result;
        S state;
        int flag;
        Lines lines;
    };
    const Row rows[] = {
        // not ready
        {Start::kNotReady, Event::kInitialize, 1, S::kInitializing, 0, {}},
        {Start::kNotReady, Event::kDownload, 0, S::kNotReady, 1, {}},
        {Start::kNotReady, Event::kCloseButton, 2, S::kNotReady, 1, {}},
        {Start::kNotReady, Event::kSucceeded, 0, S::kNotReady, 1, {}},
        {Start::kNotReady, Event::kFailed, 0, S::kNotReady, 1, {}},
        {Start::kNotReady, Event::kAborted, 0, S::kNotReady, 1, {}},
        {Start::kNotReady, Event::kWorkerEnded, 0, S::kNotReady, 1, {}},
        // initializing
        {Start::kInitializing, Event::kInitialize, 0, S::kInitializing, 0, {}},
        {Start::kInitializing, Event::kDownload, 0, S::kInitializing, 0, {}},
        {Start::kInitializing, Event::kCloseButton, 1, S::kInitializing, 1, {}},
        {Start::kInitializing, Event::kSucceeded, 0, S::kReady, 1, {}},
        {Start::kInitializing, Event::kFailed, 0, S::kNotReady, 1, {}},
        {Start::kInitializing, Event::kAborted, 0, S::kNotReady, 1, aborted},
        {Start::kInitializing, Event::kWorkerEnded, 0, S::kNotReady, 1, {}},
        // initializing, abort asked: button 1 now closes the window
        {Start::kInitAbortAsked, Event::kInitialize, 0, S::kInitializing, 1, {}},
        {Start::kInitAbortAsked, Event::kCloseButton, 2, S::kInitializing, 1, {}},
        {Start::kInitAbortAsked, Event::kAborted, 0, S::kNotReady, 1, aborted},
        {Start::kInitAbortAsked, Event::kSucceeded, 0, S::kReady, 1, {}},
        {Start::kInitAbortAsked, Event::kDownload, 0, S::kInitializing, 1, {}},
        {Start::kInitAbortAsked, Event::kFailed, 0, S::kNotReady, 1, {}},
        {Start::kInitAbortAsked, Event::kWorkerEnded, 0, S::kNotReady, 1, {}},
        // ready
        {Start::kReady, Event::kInitialize, 1, S::kInitializing, 0, {}},
        {Start::kReady, Event::kDownload, 1, S::kDownloading, 0, {}},
        {Start::kReady, Event::kCloseButton, 2, S::kReady, 1, {}},
        {Start::kReady, Event::kSucceeded, 0, S::kReady, 1, {}},
        {Start::kReady, Event::kFailed, 0, S::kReady, 1, {}},
        {Start::kReady, Event::kAborted, 0, S::kReady, 1, {}},
        {Start::kReady, Event::kWorkerEnded, 0, S::kNotReady, 1, {}},
        // downloading
        {Start::kDownloading, Event::kInitialize, 0, S::kDownloading, 0, {}},
        {Start::kDownloading, Event::kDownload, 0, S::kDownloading, 0, {}},
        {Start::kDownloading, Event::kCloseButton, 1, S::kDownloading, 1, {}},
        {Start::kDownloading, Event::kSucceeded, 0, S::kReady, 1, {}},
        {Start::kDownloading, Event::kFailed, 0, S::kNotReady, 1, {}},
        {Start::kDownloading, Event::kAborted, 0, S::kNotReady, 1, aborted},
        {Start::kDownloading, Event::kWorkerEnded, 0, S::kNotReady, 1, {}},
        // downloading, abort asked
        {Start::kDownloadAbortAsked, Event::kDownload, 0, S::kDownloading, 1, {}},
        {Start::kDownloadAbortAsked, Event::kCloseButton, 2, S::kDownloading, 1, {}},
        {Start::kDownloadAbortAsked, Event::kAborted, 0, S::kNotReady, 1, aborted},
        {Start::kDownloadAbortAsked, Event::kFailed, 0, S::kNotReady, 1, {}},
        {Start::kDownloadAbortAsked, Event::kInitialize, 0, S::kDownloading, 1, {}},
        {Start::kDownloadAbortAsked, Event::kSucceeded, 0, S::kReady, 1, {}},
        {Start::kDownloadAbortAsked, Event::kWorkerEnded, 0, S::kNotReady, 1, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(NameOf(row.start)) + " + " + NameOf(row.event));
        std::atomic<int> flag{1};
        DownloadWindowState state(flag);
        Reach(state, row.start);
        Lines lines;
        EXPECT_EQ(Apply(state, row.event, lines), row.result);
        EXPECT_EQ(state.State(), row.state);
        EXPECT_EQ(flag.load(), row.flag);
        EXPECT_EQ(lines, row.lines);
    }
}

TEST(DownloadWindowState, JobEndLines) {
    const std::string port = "/dev/quillon-test-no-such-port";
    const std::string hint = PortOpenHint(kUnableToOpenPortLine, port);
    const Lines hintLines = hint.empty() ? Lines{} : Lines{hint};
    struct Row {
        bool aborted;
        bool succeeded;
        std::string lastLine;
        Lines lines;
    };
    const Row rows[] = {
        {true, false, kUnableToOpenPortLine, {"Aborted by user!"}},  // aborted: no hint
        {false, false, kUnableToOpenPortLine, hintLines},
        {false, false, "Timeout!", {}},
        {false, false, "", {}},
        {false, true, kUnableToOpenPortLine, {}},
        {true, true, "", {}},  // succeeded wins
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.lastLine + (row.aborted ? " aborted" : "") +
                     (row.succeeded ? " succeeded" : ""));
        std::atomic<int> flag{1};
        DownloadWindowState state(flag);
        ASSERT_TRUE(state.BeginInitialize());
        EXPECT_EQ(state.OnJobDone(row.aborted, row.succeeded, row.lastLine, port), row.lines);
    }
}

// --- Log -------------------------------------------------------------------------------

TEST(LogLines, AddAppendAndClear) {
    // 'L' adds, 'A' appends, 'C' clears; each row gives the lines and the last change.
    struct Step {
        char op;
        std::string text;
        LogLines::Change change;  // unused after 'C'
        Lines lines;
    };
    const std::vector<Step> steps = {
        {'A', "*", {0, "*", false}, {"*"}},  // an empty log: the text is a line of its own
        {'L', "Programming...", {1, "Programming...", false}, {"*", "Programming..."}},
        {'A', "*", {1, "Programming...*", true}, {"*", "Programming...*"}},
        {'A', "**", {1, "Programming...***", true}, {"*", "Programming...***"}},
        {'L', "Done.", {2, "Done.", false}, {"*", "Programming...***", "Done."}},
        {'C', "", {}, {}},
        {'A', "*", {0, "*", false}, {"*"}},  // after Clear the next append is a new line
        {'A', "", {0, "*", true}, {"*"}},
        {'L', "", {1, "", false}, {"*", ""}},
        {'A', "x", {1, "x", true}, {"*", "x"}},
    };
    LogLines log;
    EXPECT_EQ(log.Last(), "");
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        SCOPED_TRACE("step " + std::to_string(i));
        if (step.op == 'C') {
            log.Clear();
        } else {
            const LogLines::Change change =
                step.op == 'L' ? log.Add(step.text) : log.AppendToLast(step.text);
            EXPECT_EQ(change.index, step.change.index);
            EXPECT_EQ(change.text, step.change.text);
            EXPECT_EQ(change.replacesLast, step.change.replacesLast);
        }
        EXPECT_EQ(log.Lines(), step.lines);
        EXPECT_EQ(log.Last(), step.lines.empty() ? "" : step.lines.back());
    }
}

// --- Settings --------------------------------------------------------------------------

class MemoryStore : public SettingsStore {
public:
    using Key = std::pair<std::string, std::string>;

    std::optional<std::string> ReadText(const char* section, const char* value) override {
        const auto it = values.find({section, value});
        return it == values.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    void WriteText(const char* section, const char* value, const std::string& text) override {
        values[{section, value}] = text;
        writes.push_back(std::string(section) + "/" + value + "=" + text);
    }
    void WriteInteger(const char* section, const char* value, int number) override {
        values[{section, value}] = std::to_string(number);
        writes.push_back(std::string(section) + "/" + value + "=(int)" + std::to_string(number));
    }

    std::map<Key, std::string> values;
    Lines writes;
};

TEST(WindowSettings, EmptyStoreGivesTheDefaults) {
    MemoryStore store;
    const WindowSettings settings = LoadWindowSettings(store);
    EXPECT_EQ(settings, (WindowSettings{"", "COM1", "57600", 1}));
    EXPECT_TRUE(store.writes.empty());
}

TEST(WindowSettings, StoredValuesAreReadAsTheyAre) {
    MemoryStore store;
    store.values[{"Last Connection", "Target"}] = "Prüfstand 40MHz  ";
    store.values[{"Last Connection", "COMPort"}] = "/dev/ttyUSB0";
    store.values[{"Last Connection", "Baudrate"}] = "";  // present, though empty
    store.values[{"Settings", "EraseAll"}] = "0";
    EXPECT_EQ(LoadWindowSettings(store),
              (WindowSettings{"Prüfstand 40MHz  ", "/dev/ttyUSB0", "", 0}));
}

TEST(WindowSettings, EraseAllTexts) {
    const std::pair<std::optional<std::string>, int> rows[] = {
        {std::nullopt, 1}, {"0", 0},   {"1", 1},    {"2", 1},          {"-1", 1},
        {"00", 0},         {"-0", 0},  {"+0", 0},   {" 0 ", 0},        {"\t0\r\n", 0},
        {"", 1},           {"abc", 1}, {"0x0", 1},  {"0.0", 1},        {"+-0", 1},
        {"- 0", 1},        {"0a", 1},  {"true", 1}, {"2147483648", 1}, {"-2147483648", 1},
    };
    for (const auto& [text, expected] : rows) {
        SCOPED_TRACE(text.value_or("(missing)"));
        EXPECT_EQ(EraseAllFromText(text), expected);
        MemoryStore store;
        if (text) {
            store.values[{"Settings", "EraseAll"}] = *text;
        }
        EXPECT_EQ(LoadWindowSettings(store).eraseAll, expected);
    }
}

TEST(WindowSettings, SaveWritesTheFourValuesInOrder) {
    MemoryStore store;
    SaveWindowSettings(store, {"Board A", "COM3", "115200", 0});
    const Lines expected = {"Last Connection/Target=Board A", "Last Connection/COMPort=COM3",
                            "Last Connection/Baudrate=115200", "Settings/EraseAll=(int)0"};
    EXPECT_EQ(store.writes, expected);
    EXPECT_EQ(LoadWindowSettings(store), (WindowSettings{"Board A", "COM3", "115200", 0}));
}

TEST(WindowSettings, OnlyOkSaves) {
    EXPECT_TRUE(SettingsSavedOn(kDialogResultOk));
    EXPECT_FALSE(SettingsSavedOn(kDialogResultCancel));
    EXPECT_FALSE(SettingsSavedOn(0));
}

// --- Lists -----------------------------------------------------------------------------

TEST(WindowLists, FirstEntryStartingWith) {
    const Lines texts = {"COM10", "COM2", "com1", "Board"};
    const std::pair<std::string, int> rows[] = {
        {"COM1", 0},  // COM1 begins COM10, which comes first
        {"com1", 0},
        {"COM2", 1},
        {"COM", 0},
        {"bo", 3},
        {"COM3", kNoSelection},
        {"", kNoSelection},
        {"Boards", kNoSelection},
    };
    for (const auto& [prefix, expected] : rows) {
        SCOPED_TRACE(prefix);
        EXPECT_EQ(FirstEntryStartingWith(texts, prefix), expected);
    }
    EXPECT_EQ(FirstEntryStartingWith({}, "COM1"), kNoSelection);
}

// An enumerator that reports `ports` in this order and then returns `result`.
PortEnumerator Ports(Lines ports, int result = 1) {
    return [ports = std::move(ports), result](ComPortCallback callback, std::uintptr_t context) {
        for (const std::string& port : ports) {
            const ComPortInfo info{port.c_str(), port.c_str()};
            if (callback(context, &info) == 0) {
                break;
            }
        }
        return result;
    };
}

TEST(WindowLists, PortListSortsAndSelects) {
    struct Row {
        Lines reported;
        int result;
        std::string stored;
        Lines ports;
        int selected;
    };
    const Row rows[] = {
        {{"COM3", "com10", "COM1", "COM2"}, 1, "COM1", {"COM1", "com10", "COM2", "COM3"}, 0},
        {{"COM10", "COM2"}, 1, "COM1", {"COM10", "COM2"}, 0},  // COM1 selects COM10
        {{"COM10", "COM2"}, 1, "com2", {"COM10", "COM2"}, 1},
        {{"COM10", "COM2"}, 1, "COM3", {"COM10", "COM2"}, kNoSelection},
        {{"COM10", "COM2"}, 1, "", {"COM10", "COM2"}, 0},  // the empty name begins every name
        {{"COM2", "COM1"}, 0, "COM1", {"COM1", "COM2"}, kNoSelection},  // failed: listed, none
        {{}, 1, "COM1", {}, kNoSelection},
        {{"b", "B", "a"}, 1, "x", {"a", "b", "B"}, kNoSelection},  // equal names as reported
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.stored);
        const PortListEntries list =
            LoadPortListEntries(Ports(row.reported, row.result), row.stored);
        EXPECT_EQ(list.ports, row.ports);
        EXPECT_EQ(list.selected, row.selected);
    }
}

TEST(WindowLists, PortListReloadKeepsExactlyTheSelectedPort) {
    struct Row {
        Lines before;
        int selectedBefore;
        Lines after;
        int result;
        int selected;
    };
    const Row rows[] = {
        {{"COM1", "COM3"}, 1, {"COM2", "COM3", "COM4"}, 1, 1},      // COM3 stays selected
        {{"COM1", "COM3"}, 0, {"COM10", "COM2"}, 1, kNoSelection},  // COM1 gone: not COM10
        {{"COM1", "COM3"}, 0, {"com1"}, 1, kNoSelection},           // exactly the name
        {{"COM1", "COM3"}, 1, {"COM3"}, 0, 0},                      // also after a failure
        {{"COM5"}, kNoSelection, {"COM10", "COM2"}, 1, 0},          // none: the stored COM1
        {{"COM5"}, kNoSelection, {"COM10", "COM2"}, 0, kNoSelection},
    };
    for (const Row& row : rows) {
        const PortListEntries previous{row.before, row.selectedBefore};
        const PortListEntries list =
            ReloadPortListEntries(Ports(row.after, row.result), previous, "COM1");
        EXPECT_EQ(list.selected, row.selected);
    }
}

TEST(WindowLists, SelectedPortAndBaudrateAreRecorded) {
    std::string port = "COM7";
    EXPECT_EQ(SelectedComPort({{"COM1", "COM3"}, kNoSelection}, port), "COM1");
    EXPECT_EQ(port, "COM7");
    EXPECT_EQ(SelectedComPort({{"COM1", "COM3"}, 1}, port), "COM3");
    EXPECT_EQ(port, "COM3");

    EXPECT_EQ(BaudrateTexts(), (Lines{"9600", "19200", "38400", "57600", "115200"}));
    std::string rate = "keep";
    EXPECT_EQ(SelectedBaudrate(kNoSelection, rate), 57600);
    EXPECT_EQ(rate, "keep");
    EXPECT_EQ(SelectedBaudrate(5, rate), 57600);
    EXPECT_EQ(rate, "keep");
    EXPECT_EQ(SelectedBaudrate(4, rate), 115200);
    EXPECT_EQ(rate, "115200");
    EXPECT_EQ(SelectedBaudrate(0, rate), 9600);
    EXPECT_EQ(rate, "9600");
}

TEST(WindowLists, BaudrateSelection) {
    const std::pair<std::string, int> rows[] = {
        {"57600", 3},  {"9600", 0},         {"1", 1},
        {"115200", 4}, {"576", 3},          {"1200", kNoSelection},
        {"", 0},       {"x", kNoSelection},
    };
    for (const auto& [stored, expected] : rows) {
        SCOPED_TRACE(stored);
        EXPECT_EQ(SelectBaudrateEntry(stored), expected);
    }
}

std::string WriteMonitorFile(const TempDir& dir, const std::string& file, const std::string& name) {
    MonitorFileSpec spec;
    spec.targetName = name;
    return Utf8FromPath(PathFromUtf8(dir.Write(file, spec.HexText())));
}

TEST(WindowLists, TargetListSortsAndSelects) {
    TempDir dir;
    MessageRecorder boxes;
    WriteMonitorFile(dir, "Mon_b.h86", "beta board");
    const std::string alpha = WriteMonitorFile(dir, "Mon_a.H86", "Alpha 40MHz");
    WriteMonitorFile(dir, "Mon_g.h86", "Gamma");
    dir.Write("notes.txt", "not a monitor file");
    const TargetFolders folders{{Utf8FromPath(dir.path())}, ""};

    struct Row {
        std::string stored;
        int selected;
    };
    const Row rows[] = {
        {"Alpha 40MHz", 0},
        {"alpha", 0},
        {"BETA", 1},
        {"g", 2},
        {"Delta", kNoSelection},
        {"", kNoSelection},
        {"Alpha 40MHz and more", kNoSelection},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.stored);
        const TargetListEntries list = LoadTargetListEntries(folders, row.stored);
        ASSERT_EQ(list.entries.size(), 3u);
        EXPECT_EQ(list.entries[0].displayName, "Alpha 40MHz");
        EXPECT_EQ(list.entries[1].displayName, "beta board");
        EXPECT_EQ(list.entries[2].displayName, "Gamma");
        EXPECT_TRUE(fs::equivalent(PathFromUtf8(list.entries[0].path), PathFromUtf8(alpha)));
        EXPECT_EQ(list.selected, row.selected);
        EXPECT_EQ(SelectTargetEntry(list.entries, row.stored), row.selected);
    }
    EXPECT_TRUE(boxes.messages().empty());

    // The selection's path, its name recorded; none leaves the name as it was.
    const TargetListEntries list = LoadTargetListEntries(folders, "beta");
    std::string target = "old";
    EXPECT_EQ(SelectedTargetPath(list.entries, kNoSelection, target), "");
    EXPECT_EQ(target, "old");
    EXPECT_EQ(SelectedTargetPath(list.entries, 3, target), "");
    EXPECT_EQ(target, "old");
    EXPECT_EQ(SelectedTargetPath(list.entries, list.selected, target), list.entries[1].path);
    EXPECT_EQ(target, "beta board");
}

TEST(WindowLists, TargetListOfOneIsSelectedWhateverWasStored) {
    TempDir dir;
    MessageRecorder boxes;
    WriteMonitorFile(dir, "Mon_only.h86", "Only Board");
    const TargetFolders folders{{Utf8FromPath(dir.path())}, ""};
    for (const char* stored : {"", "Only", "Something else"}) {
        SCOPED_TRACE(stored);
        EXPECT_EQ(LoadTargetListEntries(folders, stored).selected, 0);
    }
    // A missing folder: no entries, no selection.
    const TargetFolders missing{{Utf8FromPath(dir.path() / "missing")}, ""};
    const TargetListEntries empty = LoadTargetListEntries(missing, "Only");
    EXPECT_TRUE(empty.entries.empty());
    EXPECT_EQ(empty.selected, kNoSelection);
}

TEST(WindowLists, TheUsersFolderHidesTheSameName) {
    TempDir system;
    TempDir user;
    MessageRecorder boxes;
    WriteMonitorFile(system, "Mon_a.h86", "Board");
    WriteMonitorFile(system, "Mon_b.h86", "Other");
    const std::string mine = WriteMonitorFile(user, "Mon_mine.h86", "BOARD");
    const TargetListEntries list =
        LoadTargetListEntries({{Utf8FromPath(system.path())}, Utf8FromPath(user.path())}, "board");
    ASSERT_EQ(list.entries.size(), 2u);
    EXPECT_EQ(list.entries[0].displayName, "BOARD");
    EXPECT_TRUE(fs::equivalent(PathFromUtf8(list.entries[0].path), PathFromUtf8(mine)));
    EXPECT_EQ(list.selected, 0);
}

// --- Image file dialog -----------------------------------------------------------------

TEST(ImageFileDialog, FilterParsing) {
    using Entries = std::vector<FileFilterEntry>;
    const std::pair<std::string, Entries> rows[] = {
        {kImageFileDialogFilter, {{"Hex-Dateien (*.hex; *.h86)", {"*.hex", "*.h86"}}}},
        {"All files (*.*)|*.*||", {{"All files (*.*)", {"*.*"}}}},
        {"A|*.a|B| *.b ; *.c ;;|", {{"A", {"*.a"}}, {"B", {"*.b", "*.c"}}}},
        {"A|*.a||B|*.b|", {{"A", {"*.a"}}}},  // an empty description ends the list
        {"A|*.a|B", {{"A", {"*.a"}}}},        // a description without patterns is left out
        {"A||", {{"A", {}}}},
        {"|*.a|", {}},
        {"", {}},
    };
    for (const auto& [filter, expected] : rows) {
        SCOPED_TRACE(filter);
        EXPECT_EQ(ParseFileFilter(filter), expected);
    }
    EXPECT_STREQ(kImageFileDialogTitle, "Datei wählen");
    EXPECT_STREQ(kImageFileDialogExtension, ".HEX");
}

}  // namespace

// Failures show the two paths.
void PrintTo(const BrowseStart& start, std::ostream* out) {
    *out << "{\"" << start.folder << "\", \"" << start.file << "\"}";
}

namespace {

void WriteFile(const fs::path& file, const std::string& content) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
}

// `path` as ChooseBrowseStart gives it back: absolute, with the platform's separators.
std::string Native(const fs::path& path) {
    return Utf8FromPath(fs::absolute(path).lexically_normal().make_preferred());
}

TEST(ImageFileDialog, BrowseStart) {
    TempDir dir;
    const fs::path folder = dir.path() / PathFromUtf8("Bilder ü");
    fs::create_directories(folder);
    WriteFile(folder / "a.hex", ":00000001FF\n");
    const std::string folderText = Utf8FromPath(folder);
    const std::string fileText = Utf8FromPath(folder / "a.hex");
    const std::string missing = Utf8FromPath(dir.path() / "missing" / "b.hex");
    const std::string other = Utf8FromPath(dir.path());
    const BrowseStart atFolder{Native(folder), ""};
    const BrowseStart atFile{Native(folder), Native(folder / "a.hex")};
    const BrowseStart atDefault{Native(dir.path()), ""};

    struct Row {
        std::string text;
        std::string defaultPath;
        BrowseStart start;
    };
    const std::vector<Row> rows = {
        {folderText, "", atFolder},
        {folderText + "/", "", atFolder},
        {folderText + "\\", other, atFolder},
        {fileText, "", atFile},
        {fileText + "/", other, atFile},  // one trailing separator is dropped
        {Utf8FromPath(folder / ".." / PathFromUtf8("Bilder ü") / "." / "a.hex"), "", atFile},
        {missing, "", {}},
        {missing, other, atDefault},
        {missing, missing, {}},
        {missing, fileText, {}},  // a default that is a file opens nothing
        {"", other, atDefault},   // no text: the default path
        {"", fileText, atFile},   // ... which may name a file
        {"", "", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text + " | " + row.defaultPath);
        EXPECT_EQ(ChooseBrowseStart(row.text, row.defaultPath), row.start);
    }
}

TEST(ImageFileDialog, BrowseStartForRootsAndRelativePaths) {
    // "." is the current folder, made absolute.
    EXPECT_EQ(ChooseBrowseStart(".", ""), (BrowseStart{Native(fs::current_path()), ""}));
#ifdef _WIN32
    // A drive alone stands for its root, with or without its separator.
    const std::string drive = Utf8FromPath(fs::current_path().root_name());  // "C:"
    const BrowseStart root{drive + "\\", ""};
    EXPECT_EQ(ChooseBrowseStart(drive, ""), root);
    EXPECT_EQ(ChooseBrowseStart(drive + "\\", ""), root);
    EXPECT_EQ(ChooseBrowseStart(drive + "/", ""), root);
#else
    EXPECT_EQ(ChooseBrowseStart("/", ""), (BrowseStart{"/", ""}));
#endif
}

}  // namespace
