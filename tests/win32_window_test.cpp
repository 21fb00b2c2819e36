// The Win32 main window (quillon.exe), run by Win32DownloadApp in a thread of its own and driven
// from the test's thread through its controls, as an operator drives it; under Wine on a
// virtual display. What the window decides is tested in window_model_tests; these cases check
// that the real window shows and does it. The end-to-end cases need a COM port joined to a
// running quillon-sim (QUILLON_TEST_WINDOW_PORT) or the unpacked program folder
// (QUILLON_TEST_PROGRAM_FOLDER) and skip themselves without.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/utf8_path.h"
#include "quillon_version.h"
#include "res/window_ids.h"
#include "tests/support/fake_jobs.h"
#include "tests/support/hex_text.h"
#include "tests/support/monitor_file.h"
#include "tests/support/test_files.h"
#include "tests/support/win32_window_driver.h"
#include "winapp/download_app.h"

using namespace quillon;

namespace {

namespace fs = std::filesystem;
using namespace win32_window;
using Lines = std::vector<std::wstring>;

// A crash ends the program with a line saying so, instead of starting a debugger that, under
// Wine with a display, waits on its crash dialog until the test run's time-out.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
    std::fprintf(stderr, "win32_window_tests: crashed (exception 0x%08lX at %p)\n",
                 static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
                 exception->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}
const LPTOP_LEVEL_EXCEPTION_FILTER kPreviousFilter = ::SetUnhandledExceptionFilter(ReportCrash);

// A path from the build machine or the environment: under Wine a Linux path ("/...") is
// reached through drive Z:.
fs::path HostPath(const std::string& text) {
    if (text.size() > 1 && text[0] == '/' && text[1] != '/') {
        return PathFromUtf8("Z:" + text);
    }
    return PathFromUtf8(text);
}

fs::path SourceFile(const std::string& relative) {
    return HostPath(QUILLON_SOURCE_DIR) / PathFromUtf8(relative);
}

std::string Environment(const wchar_t* name) {
    const wchar_t* value = ::_wgetenv(name);
    return value != nullptr ? Utf8(value) : std::string();
}

std::string Joined(const Lines& lines) {
    std::string text;
    for (const std::wstring& line : lines) {
        text += Utf8(line) + "\n";
    }
    return text;
}

LPARAM KeyData(UINT key) {
    return static_cast<LPARAM>((::MapVirtualKeyW(key, MAPVK_VK_TO_VSC) << 16) | 1u);
}

// The job state as the buttons show it: Initialize, Start Download, button 1's caption.
using Buttons = std::tuple<bool, bool, std::wstring>;
const Buttons kNotReady{true, false, L"Close"};
const Buttons kInitializing{false, false, L"Cancel"};
const Buttons kReady{true, true, L"Close"};
const Buttons kDownloading{false, false, L"Close"};

Buttons ButtonState(const WindowSession& window) {
    return {window.Enabled(IDC_INITIALIZE), window.Enabled(IDC_START_DOWNLOAD), window.Text(IDOK)};
}

constexpr const wchar_t* kLastConnection = L"Last Connection";
constexpr const wchar_t* kSettings = L"Settings";

// Each case has a program folder of its own (Targets\ inside, filled by the case) and a
// settings key of its own below HKCU\Software\Brenwick\QuillonTest, removed before and after.
class Win32WindowTest : public ::testing::Test {
protected:
    Win32WindowTest() {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        key = L"Software\\Brenwick\\QuillonTest\\" + Wide(test->name());
        DeleteRegistryKey(key);
        fs::create_directory(dir.path() / "Targets");
    }
    ~Win32WindowTest() override { DeleteRegistryKey(key); }

    // The shipped monitor file of the virtual target ("Virtual Target").
    static void AddShippedTarget(const fs::path& folder) {
        fs::copy_file(SourceFile("Targets/virtual-target.h86"),
                      folder / "Targets" / "virtual-target.h86");
    }
    // A monitor file made here, listed under `name`.
    static void AddTarget(const fs::path& folder, const std::string& name,
                          const std::string& file) {
        MonitorFileSpec spec;
        spec.targetName = name;
        std::ofstream(folder / "Targets" / file, std::ios::binary) << spec.HexText();
    }

    Win32DownloadApp::Options Options(std::vector<std::string> ports) const {
        return OptionsFor(dir.path(), std::move(ports));
    }
    Win32DownloadApp::Options OptionsFor(const fs::path& folder,
                                         std::vector<std::string> ports) const {
        Win32DownloadApp::Options options;
        options.settingsKey = key;
        options.programDirectory = Utf8FromPath(folder);
        options.enumeratePorts = ListPorts(std::move(ports));
        return options;
    }
    std::optional<RegistryValue> Stored(const wchar_t* section, const wchar_t* value) const {
        return ReadRegistryValue(key, section, value);
    }
    void ExpectStoredText(const wchar_t* section, const wchar_t* value,
                          const std::wstring& text) const {
        const std::optional<RegistryValue> stored = Stored(section, value);
        ASSERT_TRUE(stored.has_value()) << Utf8(value) << " is not stored";
        EXPECT_EQ(stored->type, static_cast<DWORD>(REG_SZ)) << Utf8(value);
        EXPECT_EQ(stored->text, text) << Utf8(value);
    }
    void ExpectStoredNumber(const wchar_t* section, const wchar_t* value, DWORD number) const {
        const std::optional<RegistryValue> stored = Stored(section, value);
        ASSERT_TRUE(stored.has_value()) << Utf8(value) << " is not stored";
        EXPECT_EQ(stored->type, static_cast<DWORD>(REG_DWORD)) << Utf8(value);
        EXPECT_EQ(stored->number, number) << Utf8(value);
    }

    TempDir dir;
    std::wstring key;
};

// --- 1. Opening ------------------------------------------------------------------------

TEST_F(Win32WindowTest, OpensWithTheTemplatesControlsSystemMenuAndSizes) {
    AddShippedTarget(dir.path());
    WindowSession window(Options({"COM1"}));
    ASSERT_TRUE(window.Opened());
    HWND main = window.Window();
    EXPECT_EQ(WindowText(main), L"Quillon");

    const struct {
        int id;
        const wchar_t* className;
        const wchar_t* caption;  // nullptr: not checked
        bool enabled;
    } controls[] = {
        {IDOK, L"Button", L"Close", true},
        {IDC_INITIALIZE, L"Button", L"Initialize", true},
        {IDC_START_DOWNLOAD, L"Button", L"Start Download", false},
        {IDC_ERASE_ALL, L"Button", L"Erase all sectors", true},
        {IDC_TARGET, L"ComboBox", nullptr, true},
        {IDC_COM_PORT, L"ComboBox", nullptr, true},
        {IDC_BAUDRATE, L"ComboBox", nullptr, true},
        {IDC_IMAGE_FILE, L"Edit", L"", true},
        {IDC_LOG, L"ListBox", nullptr, true},
        {IDC_BROWSE, L"Button", nullptr, true},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE("control " + std::to_string(c.id));
        HWND control = ::GetDlgItem(main, c.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(::_wcsicmp(ClassName(control).c_str(), c.className), 0)
            << Utf8(ClassName(control));
        if (c.caption != nullptr) {
            EXPECT_EQ(WindowText(control), c.caption);
        }
        EXPECT_EQ(::IsWindowEnabled(control) != FALSE, c.enabled);
        EXPECT_TRUE(::IsWindowVisible(control));
    }
    const LONG checkBoxType =
        ::GetWindowLongW(window.Control(IDC_ERASE_ALL), GWL_STYLE) & BS_TYPEMASK;
    EXPECT_TRUE(checkBoxType == BS_AUTOCHECKBOX || checkBoxType == BS_CHECKBOX) << checkBoxType;
    EXPECT_EQ(ButtonState(window), kNotReady);

    // Each label stands left of its control, on its row.
    const struct {
        const wchar_t* text;
        int control;
    } labels[] = {{L"Target:", IDC_TARGET},
                  {L"COM Port:", IDC_COM_PORT},
                  {L"Baudrate:", IDC_BAUDRATE},
                  {L"Image File:", IDC_IMAGE_FILE}};
    const std::vector<HWND> children = Children(main);
    for (const auto& l : labels) {
        SCOPED_TRACE(Utf8(l.text));
        const auto label = std::find_if(children.begin(), children.end(), [&](HWND child) {
            return ::_wcsicmp(ClassName(child).c_str(), L"Static") == 0 &&
                   WindowText(child) == l.text;
        });
        ASSERT_NE(label, children.end()) << "no label";
        const RECT at = RectInClient(main, *label);
        const RECT beside = RectInClient(main, window.Control(l.control));
        EXPECT_LE(at.right, beside.left);
        EXPECT_TRUE(at.top < beside.bottom && beside.top < at.bottom) << "not on the same row";
    }

    // The system menu: "&About Quillon..." after a separator; Close usable while no job runs.
    HMENU systemMenu = ::GetSystemMenu(main, FALSE);
    const Lines entries = MenuTexts(systemMenu);
    const auto about = std::find(entries.begin(), entries.end(), L"&About Quillon...");
    ASSERT_NE(about, entries.end()) << Joined(entries);
    ASSERT_NE(about, entries.begin());
    EXPECT_EQ(*(about - 1), L"-") << Joined(entries);
    EXPECT_EQ(::GetMenuItemID(systemMenu, static_cast<int>(about - entries.begin())),
              static_cast<UINT>(IDM_ABOUTBOX_COMMAND));
    EXPECT_NE(std::find(entries.begin(), entries.end(), L"Production…"), entries.end())
        << Joined(entries);
    EXPECT_TRUE(window.CloseEntryEnabled());

    // The smallest size, and the log's margins at any size (smaller ones are held at the
    // smallest). The log's corner and button 1 stay where they are.
    MINMAXINFO limits{};
    limits.ptMaxTrackSize = {10000, 10000};
    Send(main, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits), "WM_GETMINMAXINFO");
    EXPECT_GE(limits.ptMinTrackSize.x, 418);
    EXPECT_GE(limits.ptMinTrackSize.y, 320);
    HWND log = window.Control(IDC_LOG);
    const RECT logAtStart = RectInClient(main, log);
    const RECT closeAtStart = RectInClient(main, window.Control(IDOK));
    for (const SIZE size : {SIZE{620, 460}, SIZE{520, 400}, SIZE{100, 80}}) {
        SCOPED_TRACE("resized to " + std::to_string(size.cx) + "x" + std::to_string(size.cy));
        ::SetWindowPos(main, nullptr, 0, 0, size.cx, size.cy,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        Send(main, WM_NULL, 0, 0, "WM_NULL");
        RECT frame{};
        ::GetWindowRect(main, &frame);
        EXPECT_GE(frame.right - frame.left, 418);
        EXPECT_GE(frame.bottom - frame.top, 320);
        if (size.cx >= 418) {
            EXPECT_EQ(frame.right - frame.left, size.cx);
            EXPECT_EQ(frame.bottom - frame.top, size.cy);
        }
        RECT client{};
        ::GetClientRect(main, &client);
        const RECT at = RectInClient(main, log);
        const RECT status = RectInClient(main, window.Control(IDC_STATUS_LINE));
        EXPECT_EQ(at.right, client.right - 10);
        EXPECT_EQ(at.bottom, status.top - 10);
        EXPECT_EQ(status.bottom, client.bottom - 10);
        EXPECT_EQ(at.left, logAtStart.left);
        EXPECT_EQ(at.top, logAtStart.top);
        const RECT close = RectInClient(main, window.Control(IDOK));
        EXPECT_TRUE(::EqualRect(&close, &closeAtStart)) << "button 1 moved";
    }
}

// The lists' entries and what is selected, on a first start and with stored choices.
TEST_F(Win32WindowTest, OpensWithTheListsAndTheStoredOrDefaultChoices) {
    const struct {
        const char* name;
        std::vector<std::pair<const wchar_t*, std::wstring>> stored;  // "Last Connection"
        bool secondTarget;
        std::vector<std::string> ports;
        Lines portEntries;
        std::wstring port;
        std::wstring baudrate;
        Lines targetEntries;
        int target;
    } cases[] = {
        {"first start",
         {},
         true,
         {"COM3", "COM1", "com2", "COM10"},
         {L"COM1", L"COM10", L"com2", L"COM3"},
         L"COM1",
         L"57600",
         {L"Test Target", L"Virtual Target"},
         -1},
        {"stored choices",
         {{L"Target", L"Another Target"}, {L"COMPort", L"COM1"}, {L"Baudrate", L"1152"}},
         false,
         {"COM3", "COM10"},
         {L"COM10", L"COM3"},
         L"COM10",
         L"115200",
         {L"Virtual Target"},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteRegistryKey(key);
        for (const auto& [value, text] : c.stored) {
            WriteRegistryText(key, kLastConnection, value, text);
        }
        TempDir folder;
        fs::create_directory(folder.path() / "Targets");
        AddShippedTarget(folder.path());
        if (c.secondTarget) {
            AddTarget(folder.path(), "Test Target", "made.h86");
        }
        WindowSession window(OptionsFor(folder.path(), c.ports));
        ASSERT_TRUE(window.Opened());
        EXPECT_EQ(ComboTexts(window.Control(IDC_TARGET)), c.targetEntries);
        EXPECT_EQ(ComboSelection(window.Control(IDC_TARGET)), c.target);
        EXPECT_EQ(ComboTexts(window.Control(IDC_COM_PORT)), c.portEntries);
        EXPECT_EQ(ComboSelectionText(window.Control(IDC_COM_PORT)), c.port);
        EXPECT_EQ(ComboTexts(window.Control(IDC_BAUDRATE)),
                  (Lines{L"9600", L"19200", L"38400", L"57600", L"115200"}));
        EXPECT_EQ(ComboSelectionText(window.Control(IDC_BAUDRATE)), c.baudrate);
        EXPECT_TRUE(window.Checked(IDC_ERASE_ALL));
        EXPECT_EQ(window.Text(IDC_IMAGE_FILE), L"");
    }
}

// --- 2. Settings -----------------------------------------------------------------------

TEST_F(Win32WindowTest, Button1SavesTheChoicesEscapeAndTheCloseBoxDoNot) {
    AddShippedTarget(dir.path());
    AddTarget(dir.path(), "Test Target", "made.h86");
    const std::vector<std::string> ports = {"COM1", "COM3"};
    // The same changes, then a way of closing; the dialog's result.
    const auto changeAndClose =
        [&](const std::function<void(WindowSession&)>& close) -> std::optional<int> {
        WindowSession window(Options(ports));
        if (!window.Opened()) {
            return std::nullopt;
        }
        window.Select(IDC_TARGET, L"Virtual Target");
        window.Select(IDC_COM_PORT, L"COM3");
        window.Select(IDC_BAUDRATE, L"115200");
        window.Click(IDC_ERASE_ALL);
        EXPECT_FALSE(window.Checked(IDC_ERASE_ALL));
        close(window);
        return window.WaitForEnd();
    };
    const struct {
        const char* how;
        std::function<void(WindowSession&)> close;
    } discarding[] = {
        {"Escape",
         [](WindowSession& w) {
             ::PostMessageW(w.Control(IDOK), WM_KEYDOWN, VK_ESCAPE, KeyData(VK_ESCAPE));
         }},
        {"WM_CLOSE", [](WindowSession& w) { ::PostMessageW(w.Window(), WM_CLOSE, 0, 0); }},
        {"the system menu's Close",
         [](WindowSession& w) { ::PostMessageW(w.Window(), WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    for (const auto& c : discarding) {
        SCOPED_TRACE(c.how);
        EXPECT_EQ(changeAndClose(c.close), std::optional<int>(2));
        EXPECT_EQ(RegistryValueNames(key, kLastConnection), Lines{});
        EXPECT_EQ(RegistryValueNames(key, kSettings), Lines{});
    }

    EXPECT_EQ(changeAndClose([](WindowSession& w) { w.Click(IDOK); }), std::optional<int>(1));
    ExpectStoredText(kLastConnection, L"Target", L"Virtual Target");
    ExpectStoredText(kLastConnection, L"COMPort", L"COM3");
    ExpectStoredText(kLastConnection, L"Baudrate", L"115200");
    ExpectStoredNumber(kSettings, L"EraseAll", 0);

    // The next start shows them again.
    WindowSession window(Options(ports));
    ASSERT_TRUE(window.Opened());
    EXPECT_EQ(ComboSelectionText(window.Control(IDC_TARGET)), L"Virtual Target");
    EXPECT_EQ(ComboSelectionText(window.Control(IDC_COM_PORT)), L"COM3");
    EXPECT_EQ(ComboSelectionText(window.Control(IDC_BAUDRATE)), L"115200");
    EXPECT_FALSE(window.Checked(IDC_ERASE_ALL));
}

// The command line's selections (quillon.exe --port/--target/--baud) are selected for this
// start and not saved; a port that is not present is named in the log, none selected. The open
// port list is wide enough for a port's description.
TEST_F(Win32WindowTest, CommandLineSelectionsHoldForThisStartOnly) {
    AddShippedTarget(dir.path());
    AddTarget(dir.path(), "Test Target", "made.h86");
    Win32DownloadApp::Options options = Options({});
    options.enumeratePorts = [](std::vector<PortEntry>& listed) {
        listed = {{"COM1", "COM1"}, {"COM3", "Adapter on the fixture's hub, its third port"}};
        return Status();
    };
    const struct {
        StartSelection start;
        std::wstring port;  // selected
        std::wstring log;   // the log's last line
    } cases[] = {
        {{"Test Target", "COM3", BaudRate{9600}}, L"COM3", L""},
        {{"Test Target", "COM7", BaudRate{9600}},
         L"",
         L"Port COM7 is not present; no port selected."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start.port.value_or(""));
        DeleteRegistryKey(key);
        WindowSession window(options, std::string(), c.start);
        ASSERT_TRUE(window.Opened());
        const HWND portList = window.Control(IDC_COM_PORT);
        EXPECT_EQ(ComboTexts(portList), (Lines{L"COM1", L"COM3"}));
        EXPECT_GT(Send(portList, CB_GETDROPPEDWIDTH, 0, 0),
                  RectInClient(window.Window(), portList).right -
                      RectInClient(window.Window(), portList).left);
        EXPECT_EQ(ComboSelectionText(window.Control(IDC_TARGET)), L"Test Target");
        EXPECT_EQ(ComboSelectionText(window.Control(IDC_COM_PORT)), c.port);
        EXPECT_EQ(ComboSelectionText(window.Control(IDC_BAUDRATE)), L"9600");
        EXPECT_EQ(window.LastLogLine(), c.log);
        window.Click(IDOK);
        EXPECT_EQ(window.WaitForEnd(), std::optional<int>(1));
        ExpectStoredText(kLastConnection, L"Target", L"");
        ExpectStoredText(kLastConnection, L"COMPort", L"COM1");
        ExpectStoredText(kLastConnection, L"Baudrate", L"57600");
    }
}

// Values as the Qt window's QSettings keeps them in the registry: EraseAll an integer (any
// nonzero one ticks the box), a text beginning with "@" stored with the "@" doubled.
TEST_F(Win32WindowTest, StoredValuesInTheQtWindowsForm) {
    AddShippedTarget(dir.path());
    WriteRegistryNumber(key, kSettings, L"EraseAll", 5);
    const std::vector<std::string> ports = {"@COM5", "COM1"};
    {
        WindowSession window(Options(ports));
        ASSERT_TRUE(window.Opened());
        EXPECT_TRUE(window.Checked(IDC_ERASE_ALL));
        EXPECT_EQ(ComboSelectionText(window.Control(IDC_COM_PORT)), L"COM1");
        window.Select(IDC_COM_PORT, L"@COM5");
        window.Click(IDOK);
        EXPECT_EQ(window.WaitForEnd(), std::optional<int>(1));
    }
    ExpectStoredNumber(kSettings, L"EraseAll", 1);
    ExpectStoredText(kLastConnection, L"COMPort", L"@@COM5");

    WindowSession window(Options(ports));
    ASSERT_TRUE(window.Opened());
    EXPECT_EQ(ComboSelectionText(window.Control(IDC_COM_PORT)), L"@COM5");
}

// --- 3. The log's context menu ---------------------------------------------------------

TEST_F(Win32WindowTest, LogMenuOnlyFromAClickInsideTheLogAndItsClearEmptiesIt) {
    AddShippedTarget(dir.path());
    WindowSession window(Options({"COM98"}));
    ASSERT_TRUE(window.Opened());
    window.Select(IDC_COM_PORT, L"COM98");
    window.Click(IDC_INITIALIZE);  // no such port: a failed job leaves its lines in the log
    ASSERT_TRUE(window.WaitForJobEnd(kPopupTimeout));
    ASSERT_FALSE(window.LogLines().empty());

    HWND main = window.Window();
    HWND log = window.Control(IDC_LOG);
    RECT logRect{};
    ::GetWindowRect(log, &logRect);
    const POINT inside{(logRect.left + logRect.right) / 2, (logRect.top + logRect.bottom) / 2};
    POINT corner{3, 3};  // the window's own background, outside every control
    ::ClientToScreen(main, &corner);

    // Sent, not posted: a menu that opened would keep the message unanswered.
    const struct {
        const char* what;
        HWND to;
        LPARAM where;
    } noMenu[] = {
        {"a keyboard request", log, static_cast<LPARAM>(-1)},
        {"a click outside the log", main, MAKELPARAM(corner.x, corner.y)},
    };
    for (const auto& c : noMenu) {
        SCOPED_TRACE(c.what);
        Send(c.to, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(c.to), c.where, "WM_CONTEXTMENU");
        EXPECT_TRUE(ThreadWindows(window.ThreadId(), L"#32768").empty()) << "a menu opened";
        Send(main, WM_CANCELMODE, 0, 0, "WM_CANCELMODE");
    }
    EXPECT_FALSE(window.LogLines().empty());

    ::PostMessageW(log, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(log),
                   MAKELPARAM(inside.x, inside.y));
    HWND popup = WaitForThreadWindow(window.ThreadId(), L"#32768");
    ASSERT_NE(popup, nullptr) << "no menu within " << kPopupTimeout.count() << " ms";
    HMENU menu = PopupMenuOf(popup);
    EXPECT_EQ(MenuTexts(menu), (Lines{L"Clear", L"-", L"Options…", L"Production…"}));
    EXPECT_EQ(::GetMenuItemID(menu, 0), static_cast<UINT>(ID_EDIT_CLEAR));
    // Chosen as with the keyboard: Down highlights it, Enter carries it out.
    ::PostMessageW(popup, WM_KEYDOWN, VK_DOWN, KeyData(VK_DOWN));
    ::PostMessageW(popup, WM_KEYDOWN, VK_RETURN, KeyData(VK_RETURN));
    EXPECT_TRUE(
        WaitFor([&] { return ThreadWindows(window.ThreadId(), L"#32768").empty(); }, kPopupTimeout))
        << "the menu is still open";
    EXPECT_TRUE(WaitFor([&] { return window.LogLines().empty(); }, kPopupTimeout))
        << Joined(window.LogLines());
}

// --- 4. The image file field -----------------------------------------------------------

TEST_F(Win32WindowTest, DroppedFilesPutTheFirstOneIntoTheImageFieldBesideItsBrowseButton) {
    AddShippedTarget(dir.path());
    const fs::path first = dir.path() / PathFromUtf8("Prüfstand Ω.hex");
    const fs::path second = dir.path() / "second.hex";
    for (const fs::path& file : {first, second}) {
        std::ofstream(file, std::ios::binary) << hex_text::End();
    }
    WindowSession window(Options({"COM1"}));
    ASSERT_TRUE(window.Opened());
    HWND main = window.Window();
    HWND edit = window.Control(IDC_IMAGE_FILE);

    // The shell drops on the field, or on the window when the field takes no files.
    HWND target = nullptr;
    for (HWND candidate : {edit, main}) {
        if ((::GetWindowLongW(candidate, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0) {
            target = candidate;
            break;
        }
    }
    ASSERT_NE(target, nullptr) << "neither the image field nor the window accepts dropped files";
    RECT editRect{};
    ::GetWindowRect(edit, &editRect);
    POINT point{(editRect.left + editRect.right) / 2, (editRect.top + editRect.bottom) / 2};
    ::ScreenToClient(target, &point);
    HGLOBAL drop = MakeDropHandle({first.wstring(), second.wstring()}, point);
    ASSERT_NE(drop, nullptr);
    Send(target, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0, "WM_DROPFILES");
    EXPECT_EQ(window.Text(IDC_IMAGE_FILE), first.wstring());

    HWND browse = window.Control(IDC_BROWSE);
    EXPECT_TRUE(::IsWindowVisible(browse));
    const RECT field = RectInClient(main, edit);
    const RECT button = RectInClient(main, browse);
    EXPECT_GE(button.left, field.right) << "the browse button is not right of the field";
    EXPECT_TRUE(button.top < field.bottom && field.top < button.bottom) << "not on its row";
}

// --- 5. The about box ------------------------------------------------------------------

TEST_F(Win32WindowTest, TheSystemMenusAboutEntryShowsTheVersionResource) {
    AddShippedTarget(dir.path());
    WindowSession window(Options({"COM1"}));
    ASSERT_TRUE(window.Opened());
    ::PostMessageW(window.Window(), WM_SYSCOMMAND, IDM_ABOUTBOX_COMMAND, 0);
    HWND about = WaitForThreadWindow(window.ThreadId(), L"#32770", window.Window());
    ASSERT_NE(about, nullptr) << "no about box within " << kPopupTimeout.count() << " ms";
    EXPECT_EQ(WindowText(about), L"About Quillon");
    EXPECT_EQ(WindowText(::GetDlgItem(about, IDC_VERSION_LINE)),
              Wide("Quillon Version " QUILLON_VERSION));
    EXPECT_EQ(WindowText(::GetDlgItem(about, IDC_COPYRIGHT_LINE)), Wide(QUILLON_LEGAL_COPYRIGHT));
    EXPECT_EQ(WindowText(::GetDlgItem(about, IDC_TRADEMARK_LINE)), Wide(QUILLON_LEGAL_TRADEMARKS));
    ::PostMessageW(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(
        WaitFor([about] { return !::IsWindow(about) || !::IsWindowVisible(about); }, kPopupTimeout))
        << "the about box is still open";
    EXPECT_TRUE(::IsWindowVisible(window.Window()));
}

// --- 6. Jobs ---------------------------------------------------------------------------

TEST_F(Win32WindowTest, AMissingPortFailsTheInitialize) {
    AddShippedTarget(dir.path());
    // Listed (as a port that was unplugged after the listing is) but not there.
    WindowSession window(Options({"COM98"}));
    ASSERT_TRUE(window.Opened());
    window.Select(IDC_COM_PORT, L"COM98");  // nothing stored begins it: not selected at start
    window.Click(IDC_INITIALIZE);
    ASSERT_TRUE(window.WaitForJobEnd(std::chrono::milliseconds(20000)));
    const Lines log = window.LogLines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], L"Unable to open COM port!") << Joined(log);
    EXPECT_EQ(log.back().rfind(L"COM98: ", 0), 0u) << Joined(log);  // the port and the reason
    EXPECT_EQ(ButtonState(window), kNotReady);
    EXPECT_TRUE(window.CloseEntryEnabled());
}

// Jobs played by the test from its own thread, as a job thread plays them: what the window
// asks of them, and how their events reach its controls.
class Win32WindowJobsTest : public Win32WindowTest {
protected:
    Win32DownloadApp::Options FakeJobOptions() {
        AddShippedTarget(dir.path());
        Win32DownloadApp::Options options = Options({"COM1", "COM3"});
        options.makeJobs = [record = jobs] { return std::make_unique<FakeJobs>(record); };
        return options;
    }
    JobEventSink& Job() const {
        std::lock_guard<std::mutex> lock(jobs->mutex);
        EXPECT_NE(jobs->events, nullptr) << "no job was started";
        return *jobs->events;
    }

    std::shared_ptr<FakeJobRecord> jobs = std::make_shared<FakeJobRecord>();
};

TEST_F(Win32WindowJobsTest, TheControlsReachTheJobsAndEachKindOfEventItsControl) {
    WindowSession window(FakeJobOptions());
    ASSERT_TRUE(window.Opened());
    window.Select(IDC_COM_PORT, L"COM3");
    window.Select(IDC_BAUDRATE, L"115200");
    window.Click(IDC_INITIALIZE);
    EXPECT_EQ(ButtonState(window), kInitializing);
    Job().OnJobEvent(JobEvent::Append("*"));  // on an empty log: its only line
    Job().OnJobEvent(JobEvent::Line("Send Monitor"));
    Job().OnJobEvent(JobEvent::Append(" (Level 2)"));
    Job().OnJobEvent(JobEvent::Progress(ProgressPhase::kMonitorUpload, 300, 700));
    Job().OnJobEvent(JobEvent::Debug("WaitForResponse(): To few bytes, 01"));
    HWND bar = window.Control(IDC_PROGRESS);
    EXPECT_TRUE(WaitFor([&] { return Send(bar, PBM_GETPOS, 0, 0) == 300; }, kPopupTimeout));
    EXPECT_EQ(Send(bar, PBM_GETRANGE, FALSE, 0), 700);
    EXPECT_EQ(window.LogLines(), (Lines{L"*", L"Send Monitor (Level 2)"}));

    // The reader's text in a box of the window's thread; the job's end follows its OK.
    Job().OnJobEvent(
        JobEvent::ReaderMessage("C:\\fw.hex", "Fehler bei der Satzanalyse : Nr. '<'!"));
    Job().OnJobEvent(JobEvent::Line("after the box"));
    Job().OnJobEvent(JobEvent::Done({JobOutcome::kAborted, FailureReason::kAborted, kAbortedLine}));
    HWND box = WaitForThreadWindow(window.ThreadId(), L"#32770", window.Window(), L"Quillon");
    ASSERT_NE(box, nullptr) << "no message box within " << kPopupTimeout.count() << " ms";
    EXPECT_EQ(WindowText(::GetDlgItem(box, 0xFFFF)), L"Fehler bei der Satzanalyse : Nr. '<'!");
    EXPECT_EQ(ButtonState(window), kInitializing);
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(window.WaitForJobEnd(kPopupTimeout));
    EXPECT_EQ(window.LogLines(),
              (Lines{L"*", L"Send Monitor (Level 2)", L"after the box", L"Aborted by user!"}));
    // The bar keeps where the aborted job stopped, in red.
    EXPECT_EQ(Send(bar, PBM_GETPOS, 0, 0), 300);
    EXPECT_NE(Send(bar, PBM_GETBARCOLOR, 0, 0), static_cast<LRESULT>(CLR_DEFAULT));

    window.Click(IDC_INITIALIZE);
    Job().OnJobEvent(JobEvent::Done({JobOutcome::kSucceeded, FailureReason::kNone, ""}));
    ASSERT_TRUE(window.WaitForJobEnd(kPopupTimeout));
    EXPECT_EQ(ButtonState(window), kReady);
    // Full after a success, in its own colour.
    EXPECT_EQ(Send(bar, PBM_GETBARCOLOR, 0, 0), static_cast<LRESULT>(CLR_DEFAULT));
    EXPECT_EQ(Send(bar, PBM_GETPOS, 0, 0), Send(bar, PBM_GETRANGE, FALSE, 0));
    window.SetText(IDC_IMAGE_FILE, L"C:\\images\\fw.hex");
    window.Click(IDC_ERASE_ALL);
    window.Click(IDC_START_DOWNLOAD);
    EXPECT_EQ(ButtonState(window), kDownloading);
    EXPECT_FALSE(window.CloseEntryEnabled());
    window.Click(IDOK);  // asks the job to abort, the window stays
    EXPECT_TRUE(::IsWindowVisible(window.Window()));
    {
        std::lock_guard<std::mutex> lock(jobs->mutex);
        ASSERT_EQ(jobs->requests.size(), 3u);
        const JobRequest& init = jobs->requests[0];
        EXPECT_EQ(
            fs::path(PathFromUtf8(std::get<InitializeRequest>(init.job).monitorFile)).filename(),
            "virtual-target.h86");
        EXPECT_EQ(std::tie(init.line.port, init.line.baud),
                  std::make_tuple(std::string("COM3"), BaudRate{115200}));
        const auto& download = std::get<DownloadRequest>(jobs->requests[2].job);
        EXPECT_EQ(std::tie(download.imageFile, download.eraseAll),
                  std::make_tuple(std::string("C:\\images\\fw.hex"), false));
        EXPECT_EQ(jobs->stops, 1);
    }
    Job().OnJobEvent(JobEvent::Done({JobOutcome::kAborted, FailureReason::kAborted, kAbortedLine}));
    ASSERT_TRUE(window.WaitForJobEnd(kPopupTimeout));
}

// The status line below every control of the template, in a font larger than the window's,
// shows what the controller says as the job goes.
TEST_F(Win32WindowJobsTest, TheStatusLineShowsTheJobsStateBelowTheControls) {
    WindowSession window(FakeJobOptions());
    ASSERT_TRUE(window.Opened());
    HWND main = window.Window();
    HWND status = window.Control(IDC_STATUS_LINE);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(WindowText(status), L"");
    const RECT line = RectInClient(main, status);
    for (HWND child : Children(main)) {
        if (child != status) {
            EXPECT_LE(RectInClient(main, child).bottom, line.top) << Utf8(WindowText(child));
        }
    }
    const auto fontHeight = [](HWND control) {
        LOGFONTW font{};
        ::GetObjectW(reinterpret_cast<HFONT>(Send(control, WM_GETFONT, 0, 0)), sizeof(font), &font);
        return std::abs(font.lfHeight);
    };
    EXPECT_GE(fontHeight(status), 2 * fontHeight(window.Control(IDOK)));

    window.Click(IDC_INITIALIZE);
    EXPECT_EQ(WindowText(status), L"Initializing…");
    window.Click(IDOK);
    EXPECT_EQ(WindowText(status), L"Stopping…");
    Job().OnJobEvent(
        JobEvent::Done({JobOutcome::kFailed, FailureReason::kNoAnswer, "No response from target"}));
    ASSERT_TRUE(window.WaitForJobEnd(kPopupTimeout));
    EXPECT_EQ(WindowText(status), L"FAILED: No response from target");
}

// More events than a thread's message queue holds, posted while the window's thread is busy:
// none is lost, and the job's end reaches the window.
TEST_F(Win32WindowTest, AFloodOfJobEventsLosesNone) {
    AddShippedTarget(dir.path());
    // A job that posts all its events at once, from the window's thread, before it pumps.
    struct FloodingJobs : JobStarter {
        void Start(JobRequest, JobEventSink& events) override {
            for (std::uint32_t done = 1; done <= 11000; ++done) {
                events.OnJobEvent(JobEvent::Progress(ProgressPhase::kMonitorUpload, done, 11000));
            }
            events.OnJobEvent(JobEvent::Line("last"));
            events.OnJobEvent(JobEvent::Done({JobOutcome::kSucceeded, FailureReason::kNone, ""}));
        }
        void RequestStop() override {}
    };
    Win32DownloadApp::Options options = Options({"COM1"});
    options.makeJobs = [] { return std::make_unique<FloodingJobs>(); };
    WindowSession window(options);
    ASSERT_TRUE(window.Opened());
    window.Click(IDC_INITIALIZE);
    ASSERT_TRUE(window.WaitForJobEnd(kJobTimeout));
    EXPECT_EQ(window.LogLines(), Lines{L"last"});
    EXPECT_EQ(WindowText(window.Control(IDC_STATUS_LINE)), L"Ready for Start Download");
}

// "Options…" of the system menu: a value the settings reader would not take keeps the dialog
// open with a box; a good one is written at once and named by the next Initialize.
TEST_F(Win32WindowJobsTest, OptionsSetsTheEchoWindowInTheRegistry) {
    WindowSession window(FakeJobOptions());
    ASSERT_TRUE(window.Opened());
    ::PostMessageW(window.Window(), WM_SYSCOMMAND, IDM_OPTIONS_COMMAND, 0);
    HWND dialog = WaitForThreadWindow(window.ThreadId(), L"#32770", window.Window(), L"Options");
    ASSERT_NE(dialog, nullptr) << "no Options dialog within " << kPopupTimeout.count() << " ms";
    HWND edit = ::GetDlgItem(dialog, IDC_ECHO_WINDOW);
    EXPECT_EQ(WindowText(edit), L"1");
    for (const wchar_t* text : {L"0", L"64"}) {
        Send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), "WM_SETTEXT");
        ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        if (std::wstring(text) == L"0") {
            HWND box = nullptr;  // a box of its own, neither the main window nor the dialog
            ASSERT_TRUE(WaitFor(
                [&] {
                    for (HWND shown :
                         ThreadWindows(window.ThreadId(), L"#32770", window.Window())) {
                        box = shown != dialog ? shown : box;
                    }
                    return box != nullptr;
                },
                kPopupTimeout))
                << "no message box";
            EXPECT_EQ(WindowText(::GetDlgItem(box, 0xFFFF)),
                      L"The echo window must be a number from 1 to 1024 (bytes).");
            ::PostMessageW(box, WM_COMMAND, IDOK, 0);
            EXPECT_TRUE(WaitFor([&] { return !::IsWindow(box); }, kPopupTimeout));
            EXPECT_TRUE(::IsWindowVisible(dialog));
        }
    }
    EXPECT_TRUE(WaitFor([&] { return !::IsWindow(dialog); }, kPopupTimeout));
    ExpectStoredNumber(kSettings, L"EchoWindow", 64);
    window.Click(IDC_INITIALIZE);
    EXPECT_EQ(window.LogLines(), Lines{L"Echo window: 64 bytes"});
    Job().OnJobEvent(JobEvent::Done({JobOutcome::kAborted, FailureReason::kAborted, kAbortedLine}));
    ASSERT_TRUE(window.WaitForJobEnd(kPopupTimeout));
}

// Rates added in the Options dialog are written at once and join the baud rate list.
TEST_F(Win32WindowJobsTest, OptionsAddsBaudRatesToTheList) {
    WindowSession window(FakeJobOptions());
    ASSERT_TRUE(window.Opened());
    ::PostMessageW(window.Window(), WM_SYSCOMMAND, IDM_OPTIONS_COMMAND, 0);
    HWND dialog = WaitForThreadWindow(window.ThreadId(), L"#32770", window.Window(), L"Options");
    ASSERT_NE(dialog, nullptr) << "no Options dialog within " << kPopupTimeout.count() << " ms";
    Send(::GetDlgItem(dialog, IDC_ADDED_BAUD_RATES), WM_SETTEXT, 0,
         reinterpret_cast<LPARAM>(L"1000000 250000"), "WM_SETTEXT");
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return !::IsWindow(dialog); }, kPopupTimeout));
    ExpectStoredText(kSettings, L"AddedBaudrates", L"250000 1000000");
    EXPECT_EQ(ComboTexts(window.Control(IDC_BAUDRATE)),
              (Lines{L"9600", L"19200", L"38400", L"57600", L"115200", L"250000", L"1000000"}));
}

// Escape during a job does nothing: the window stays and the job goes on. Button 1 pressed
// twice (an abort asked for) hides the window at once; its run ends with OK once the job has
// ended.
TEST_F(Win32WindowJobsTest, ClosedDuringAJobTheWindowEndsWithTheJob) {
    WindowSession window(FakeJobOptions());
    ASSERT_TRUE(window.Opened());
    window.Click(IDC_INITIALIZE);
    Send(window.Window(), WM_COMMAND, IDCANCEL, 0, "IDCANCEL");
    EXPECT_TRUE(::IsWindowVisible(window.Window()));
    window.Click(IDOK);
    window.Click(IDOK);
    EXPECT_FALSE(::IsWindowVisible(window.Window()));
    EXPECT_FALSE(window.Ended());
    Job().OnJobEvent(JobEvent::Line("Monitor started!"));
    Job().OnJobEvent(JobEvent::Done({JobOutcome::kAborted, FailureReason::kAborted, kAbortedLine}));
    EXPECT_EQ(window.WaitForEnd(), std::optional<int>(1));
    std::lock_guard<std::mutex> lock(jobs->mutex);
    EXPECT_EQ(jobs->stops, 1);
}

TEST_F(Win32WindowTest, InitializeDownloadAndAbortAgainstTheVirtualTarget) {
    const std::string port = Environment(L"QUILLON_TEST_WINDOW_PORT");
    if (port.empty()) {
        GTEST_SKIP() << "QUILLON_TEST_WINDOW_PORT is not set (a Wine COM port such as COM9 on "
                        "the pseudo-terminal of a running quillon-sim; scripts/wine-tests sets "
                        "it up)";
    }
    AddShippedTarget(dir.path());
    const fs::path image = dir.path() / "demo.hex";
    fs::copy_file(SourceFile("samples/demo.hex"), image);
    WindowSession window(Options({port, "COM98"}));
    ASSERT_TRUE(window.Opened());
    EXPECT_EQ(ComboSelectionText(window.Control(IDC_TARGET)), L"Virtual Target");
    window.Select(IDC_COM_PORT, Wide(port));
    window.Select(IDC_BAUDRATE, L"57600");

    window.Click(IDC_INITIALIZE);
    EXPECT_EQ(ButtonState(window), kInitializing);
    EXPECT_FALSE(window.CloseEntryEnabled());
    ASSERT_TRUE(window.WaitForJobEnd()) << Joined(window.LogLines());
    EXPECT_EQ(ButtonState(window), kReady) << Joined(window.LogLines());
    EXPECT_TRUE(window.CloseEntryEnabled());
    const Lines initialized = window.LogLines();
    ASSERT_FALSE(initialized.empty());
    EXPECT_EQ(initialized.front(), Wide(port + " initialized."));
    EXPECT_EQ(initialized.back(), L"Monitor started!") << Joined(initialized);

    window.SetText(IDC_IMAGE_FILE, image.wstring());
    window.Click(IDC_START_DOWNLOAD);
    EXPECT_EQ(ButtonState(window), kDownloading);
    EXPECT_FALSE(window.CloseEntryEnabled());
    ASSERT_TRUE(window.WaitForJobEnd()) << Joined(window.LogLines());
    EXPECT_EQ(window.LastLogLine(), L"Download finished successfully!")
        << Joined(window.LogLines());
    EXPECT_EQ(ButtonState(window), kReady);

    if (const std::string picture = Environment(L"QUILLON_SCREENSHOT_BMP"); !picture.empty()) {
        ::RedrawWindow(window.Window(), nullptr, nullptr,
                       RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Send(window.Window(), WM_NULL, 0, 0, "WM_NULL");
        const Status saved = SaveWindowBitmap(window.Window(), HostPath(picture).wstring());
        EXPECT_TRUE(saved) << (saved ? "" : saved.error().text);
    }

    // Button 1 pressed once while it initializes: the job ends at its next poll point.
    window.Click(IDC_INITIALIZE);
    window.Click(IDOK);
    ASSERT_TRUE(window.WaitForJobEnd()) << Joined(window.LogLines());
    const Lines lines = window.LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), L"Aborted by user!"), 1) << Joined(lines);
    EXPECT_EQ(lines.back(), L"Aborted by user!") << Joined(lines);
    EXPECT_EQ(ButtonState(window), kNotReady);
    EXPECT_TRUE(::IsWindowVisible(window.Window()));

    window.Click(IDOK);
    EXPECT_EQ(window.WaitForEnd(), std::optional<int>(1));
    ExpectStoredText(kLastConnection, L"COMPort", Wide(port));
    ExpectStoredText(kLastConnection, L"Baudrate", L"57600");
}

// The picture of the window after a download that the target fails half way, for
// scripts/screenshot-windows --failed (its virtual target answers a block with a CRC error).
TEST_F(Win32WindowTest, PictureAfterAFailedDownload) {
    const std::string port = Environment(L"QUILLON_TEST_WINDOW_PORT");
    const std::string picture = Environment(L"QUILLON_SCREENSHOT_BMP");
    if (port.empty() || picture.empty()) {
        GTEST_SKIP() << "for scripts/screenshot-windows --failed only";
    }
    AddShippedTarget(dir.path());
    const fs::path image = dir.path() / "demo.hex";
    fs::copy_file(SourceFile("samples/demo.hex"), image);
    WindowSession window(Options({port}));
    ASSERT_TRUE(window.Opened());
    window.Select(IDC_COM_PORT, Wide(port));
    window.Click(IDC_INITIALIZE);
    ASSERT_TRUE(window.WaitForJobEnd()) << Joined(window.LogLines());
    window.SetText(IDC_IMAGE_FILE, image.wstring());
    window.Click(IDC_START_DOWNLOAD);
    ASSERT_TRUE(window.WaitForJobEnd()) << Joined(window.LogLines());
    EXPECT_EQ(window.LastLogLine(), L"Wrong CRC!") << Joined(window.LogLines());
    // Where the job stopped, in red.
    const HWND bar = window.Control(IDC_PROGRESS);
    EXPECT_GT(Send(bar, PBM_GETPOS, 0, 0), 0);
    EXPECT_LT(Send(bar, PBM_GETPOS, 0, 0), Send(bar, PBM_GETRANGE, FALSE, 0));
    EXPECT_NE(Send(bar, PBM_GETBARCOLOR, 0, 0), static_cast<LRESULT>(CLR_DEFAULT));
    ::RedrawWindow(window.Window(), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Send(window.Window(), WM_NULL, 0, 0, "WM_NULL");
    const Status saved = SaveWindowBitmap(window.Window(), HostPath(picture).wstring());
    EXPECT_TRUE(saved) << (saved ? "" : saved.error().text);
    window.Click(IDOK);
    EXPECT_EQ(window.WaitForEnd(), std::optional<int>(1));
}

// The real jobs, with a job's end held back while the test asks (so that a picture can show the
// window between button 1's press and the job's end).
class EndHoldingJobs : public JobStarter, JobEventSink {
public:
    void Start(JobRequest request, JobEventSink& events) override {
        m_window = &events;
        m_runner->Start(std::move(request), *this);
    }
    void RequestStop() override { m_runner->RequestStop(); }
    void OnJobEvent(const JobEvent& event) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (event.kind == JobEvent::Kind::kDone && m_holding) {
            m_held = event;
            return;
        }
        m_window->OnJobEvent(event);
    }
    void Hold() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holding = true;
    }
    // Passes the held end on, once there is one; false while there is none.
    bool ReleaseHeldEnd() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_held) {
            return false;
        }
        m_holding = false;
        m_window->OnJobEvent(*m_held);
        return true;
    }

private:
    std::unique_ptr<JobStarter> m_runner = MakeJobRunner();
    JobEventSink* m_window = nullptr;
    std::mutex m_mutex;
    bool m_holding = false;
    std::optional<JobEvent> m_held;
};

// The picture of the window at one outcome, for scripts/screenshot-windows
// (QUILLON_SCREENSHOT_OUTCOME: ready, downloading, stopping or aborted): Initialize, then Start
// Download of the sample against the virtual target and button 1 a third of the way through.
TEST_F(Win32WindowTest, PictureOfAnOutcome) {
    const std::string port = Environment(L"QUILLON_TEST_WINDOW_PORT");
    const std::string picture = Environment(L"QUILLON_SCREENSHOT_BMP");
    const std::string outcome = Environment(L"QUILLON_SCREENSHOT_OUTCOME");
    if (port.empty() || picture.empty() || outcome.empty()) {
        GTEST_SKIP() << "for scripts/screenshot-windows only";
    }
    AddShippedTarget(dir.path());
    const fs::path image = dir.path() / "demo.hex";
    fs::copy_file(SourceFile("samples/demo.hex"), image);
    EndHoldingJobs* jobs = nullptr;
    Win32DownloadApp::Options options = Options({port});
    options.makeJobs = [&jobs] {
        auto made = std::make_unique<EndHoldingJobs>();
        jobs = made.get();
        return made;
    };
    WindowSession window(options);
    ASSERT_TRUE(window.Opened());
    const auto take = [&] {
        ::RedrawWindow(window.Window(), nullptr, nullptr,
                       RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Send(window.Window(), WM_NULL, 0, 0, "WM_NULL");
        const Status saved = SaveWindowBitmap(window.Window(), HostPath(picture).wstring());
        EXPECT_TRUE(saved) << (saved ? "" : saved.error().text);
    };
    window.Select(IDC_COM_PORT, Wide(port));
    window.Click(IDC_INITIALIZE);
    ASSERT_TRUE(window.WaitForJobEnd()) << Joined(window.LogLines());
    ASSERT_EQ(ButtonState(window), kReady) << Joined(window.LogLines());
    if (outcome == "ready") {
        return take();
    }
    window.SetText(IDC_IMAGE_FILE, image.wstring());
    window.Click(IDC_START_DOWNLOAD);
    const HWND bar = window.Control(IDC_PROGRESS);
    ASSERT_TRUE(WaitFor(
        [&] {
            const LRESULT range = Send(bar, PBM_GETRANGE, FALSE, 0);
            return range > 1 && Send(bar, PBM_GETPOS, 0, 0) * 3 >= range;
        },
        kJobTimeout));
    ASSERT_EQ(WindowText(window.Control(IDC_STATUS_LINE)), L"Downloading…")
        << "the download ended too soon: " << Joined(window.LogLines());
    if (outcome == "downloading") {
        take();
    }
    jobs->Hold();
    window.Click(IDOK);
    if (outcome == "stopping") {
        EXPECT_EQ(WindowText(window.Control(IDC_STATUS_LINE)), L"Stopping…");
        take();
    }
    ASSERT_TRUE(WaitFor([&] { return jobs->ReleaseHeldEnd(); }, kJobTimeout));
    ASSERT_TRUE(window.WaitForJobEnd()) << Joined(window.LogLines());
    EXPECT_EQ(WindowText(window.Control(IDC_STATUS_LINE)), L"Aborted");
    if (outcome == "aborted") {
        take();
    }
}

// --- 7. The unpacked program folder ----------------------------------------------------

// quillon.exe of the folder QUILLON_TEST_PROGRAM_FOLDER names, started with `arguments`; ended
// if the test could not end it.
class ProgramRun {
public:
    explicit ProgramRun(const std::wstring& arguments) {
        const std::string folder = Environment(L"QUILLON_TEST_PROGRAM_FOLDER");
        if (folder.empty()) {
            return;
        }
        const fs::path program = HostPath(folder) / "quillon.exe";
        EXPECT_TRUE(fs::exists(program)) << Utf8(program.wstring());
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        std::wstring commandLine = L"\"" + program.wstring() + L"\" " + arguments;
        started = ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                   nullptr, program.parent_path().c_str(), &startup, &process);
        EXPECT_TRUE(started) << "CreateProcessW: error " << ::GetLastError();
    }
    ~ProgramRun() {
        if (!started) {
            return;
        }
        if (::WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(process.hProcess, 1);
            ::WaitForSingleObject(process.hProcess, 5000);
        }
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    bool Ended() const { return ::WaitForSingleObject(process.hProcess, 0) != WAIT_TIMEOUT; }
    // Its main window: top-level, visible, captioned "Quillon", with the target list; nullptr
    // when none came within 30 s or the program ended.
    HWND MainWindow() const {
        HWND window = nullptr;
        const auto find = [&] {
            struct Search {
                DWORD processId;
                HWND found;
            } search{process.dwProcessId, nullptr};
            ::EnumWindows(
                [](HWND candidate, LPARAM context) -> BOOL {
                    auto* s = reinterpret_cast<Search*>(context);
                    DWORD owner = 0;
                    ::GetWindowThreadProcessId(candidate, &owner);
                    if (owner == s->processId && ::IsWindowVisible(candidate) &&
                        ::GetDlgItem(candidate, IDC_TARGET) != nullptr &&
                        WindowText(candidate) == L"Quillon") {
                        s->found = candidate;
                        return FALSE;
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&search));
            window = search.found;
            return window != nullptr || Ended();
        };
        EXPECT_TRUE(WaitFor(find, std::chrono::milliseconds(30000)) && window != nullptr)
            << "no window \"Quillon\" of quillon.exe within 30 s (the program "
            << (Ended() ? "ended)" : "runs)");
        return window;
    }
    // Its exit status once it has ended within `timeout`, else none.
    std::optional<DWORD> ExitStatus(std::chrono::milliseconds timeout) const {
        if (::WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeout.count())) !=
            WAIT_OBJECT_0) {
            return std::nullopt;
        }
        DWORD status = 1;
        ::GetExitCodeProcess(process.hProcess, &status);
        return status;
    }

    bool started = false;
    PROCESS_INFORMATION process{};
};

#define SKIP_WITHOUT_PROGRAM_FOLDER()                                                           \
    if (Environment(L"QUILLON_TEST_PROGRAM_FOLDER").empty()) {                                  \
        GTEST_SKIP() << "QUILLON_TEST_PROGRAM_FOLDER is not set (a folder holding quillon.exe " \
                        "with Targets\\ beside it, as the Windows zip unpacks)";                \
    }

TEST(Win32ProgramFolder, QuillonExeListsTheTargetBesideItAndClosesWithStatus0) {
    SKIP_WITHOUT_PROGRAM_FOLDER();
    ProgramRun run(L"");
    ASSERT_TRUE(run.started);
    const HWND window = run.MainWindow();
    ASSERT_NE(window, nullptr);

    HWND targets = ::GetDlgItem(window, IDC_TARGET);
    EXPECT_GT(Send(targets, CB_GETCOUNT, 0, 0, "CB_GETCOUNT"), 0);
    const Lines entries = ComboTexts(targets);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.front(), L"Virtual Target");

    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(run.ExitStatus(std::chrono::milliseconds(15000)), std::optional<DWORD>(0))
        << "quillon.exe did not end within 15 s of WM_CLOSE, or not with 0";
}

// The window program's own command line: --target, --baud and --port select for this start
// (a port that is not present named in the log); a rate not offered ends it with status 2.
TEST(Win32ProgramFolder, QuillonExeTakesTheCommandLinesSelections) {
    SKIP_WITHOUT_PROGRAM_FOLDER();
    {
        ProgramRun run(L"--target \"virtual target\" --baud 9600 --port COM97");
        ASSERT_TRUE(run.started);
        const HWND window = run.MainWindow();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(ComboSelectionText(::GetDlgItem(window, IDC_TARGET)), L"Virtual Target");
        EXPECT_EQ(ComboSelectionText(::GetDlgItem(window, IDC_BAUDRATE)), L"9600");
        EXPECT_EQ(ComboSelection(::GetDlgItem(window, IDC_COM_PORT)), -1);
        const Lines log = ListTexts(::GetDlgItem(window, IDC_LOG));
        EXPECT_EQ(log.empty() ? L"" : log.back(), L"Port COM97 is not present; no port selected.");
        // Closed without OK: nothing saved.
        ::PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(run.ExitStatus(std::chrono::milliseconds(15000)), std::optional<DWORD>(0));
    }
    ProgramRun refused(L"--baud 4800");
    ASSERT_TRUE(refused.started);
    EXPECT_EQ(refused.ExitStatus(std::chrono::milliseconds(15000)), std::optional<DWORD>(2));
}

}  // namespace
