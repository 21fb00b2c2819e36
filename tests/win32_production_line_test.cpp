// The Win32 production view through its controls against three virtual targets: each station a
// quillon-cli.exe program on a Wine COM port joined to a running quillon-sim, board after board
// on Enter, the record checked line by line.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/system_env.h"
#include "platform/utf8_path.h"
#include "tests/support/memory_store.h"
#include "tests/support/production_record.h"
#include "tests/support/test_files.h"
#include "tests/support/win32_window_driver.h"
#include "winapp/production_window.h"
#include "window/engine_production_runner.h"

using namespace quillon;
using namespace quillon::win32_window;

namespace {

using Window = Win32ProductionWindow;

std::string Environment(const wchar_t* name) {
    const wchar_t* value = ::_wgetenv(name);
    return value != nullptr ? Utf8(value) : std::string();
}

// A path of the build machine: under Wine a Linux path ("/...") is reached through drive Z:.
std::string HostPath(const std::string& text) {
    return text.size() > 1 && text[0] == '/' && text[1] != '/' ? "Z:" + text : text;
}

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        parts.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return parts;
}

}  // namespace

// QUILLON_TEST_PRODUCTION_PORTS names three Wine COM ports on running quillon-sims, the third of
// which answers a block of its second session with a CRC error (scripts/wine-tests sets them
// up). With QUILLON_SCREENSHOT_PRODUCTION (running or failed) and QUILLON_SCREENSHOT_BMP the
// view is saved while its stations program a third of their first boards, or after the round
// with the failed board (scripts/screenshot-windows --production-running, --production-failed).
TEST(Win32ProductionWindowTest, ThreeStationsBoardAfterBoardWithTheRecordLineByLine) {
    const std::vector<std::string> ports = Split(Environment(L"QUILLON_TEST_PRODUCTION_PORTS"));
    if (ports.size() != 3) {
        GTEST_SKIP() << "QUILLON_TEST_PRODUCTION_PORTS does not name three COM ports on virtual "
                        "targets (scripts/wine-tests sets them up)";
    }
    const std::string picture = Environment(L"QUILLON_SCREENSHOT_BMP");
    const std::string pictureAt = Environment(L"QUILLON_SCREENSHOT_PRODUCTION");
    const std::string bin = HostPath(QUILLON_BIN_DIR);
    TempDir dir;
    const std::string record = Utf8FromPath(dir.path() / "record.jsonl");
    MemoryStore store;
    store.values = {{"Production/Target", "Virtual Target"},
                    {"Production/Image", bin + "/samples/demo.hex"},
                    {"Production/Stations", ports[0] + "\n" + ports[1] + "\n" + ports[2]},
                    {"Production/Record", record},
                    {"Production/Repeat", "enter"}};
    ProductionSources sources;
    sources.targetFolders = FindTargetFolders(bin);
    sources.enumeratePorts = ListPorts({});
    Window window(store, std::move(sources), [&bin](ProductionEvents& events) {
        return std::make_unique<EngineProductionRunner>(
            events, SystemEnv::Default(), bin + "/quillon-cli.exe", FindTargetFolders(bin));
    });
    std::atomic<DWORD> threadId{0};
    std::thread modal([&] {
        threadId = ::GetCurrentThreadId();
        window.DoModal(nullptr);
    });
    // Whatever fails, the view closes and its thread is joined: a close during the run is
    // confirmed, and the view waits for the boards' lines.
    struct Ending {
        ~Ending() {
            for (int tries = 0; window.Handle() != nullptr && tries < 100; ++tries) {
                for (HWND box : ThreadWindows(threadId, L"#32770", window.Handle())) {
                    ::PostMessageW(box, WM_COMMAND, IDYES, 0);
                    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
                }
                ::PostMessageW(window.Handle(), WM_CLOSE, 0, 0);
                WaitFor([this] { return window.Handle() == nullptr; }, kAnswerTimeout);
            }
            modal.join();
        }
        Window& window;
        std::atomic<DWORD>& threadId;
        std::thread& modal;
    } ending{window, threadId, modal};

    HWND dialog = nullptr;
    const auto text = [&dialog](int id) { return Utf8(WindowText(::GetDlgItem(dialog, id))); };
    const auto tile = [](int station, int part) { return Window::kTileBase + 10 * station + part; };
    ASSERT_TRUE(WaitFor(
        [&] {
            dialog = window.Handle();
            return dialog != nullptr && ::GetDlgItem(dialog, Window::kImage) != nullptr &&
                   !text(Window::kImage).empty();
        },
        kOpenTimeout));
    // The whole view on the screen, its buttons at the bottom too.
    RECT placed{};
    MONITORINFO screen{};
    screen.cbSize = sizeof(screen);
    ASSERT_TRUE(::GetWindowRect(dialog, &placed));
    ASSERT_TRUE(::GetMonitorInfoW(::MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &screen));
    EXPECT_TRUE(placed.left >= screen.rcWork.left && placed.top >= screen.rcWork.top &&
                placed.right <= screen.rcWork.right && placed.bottom <= screen.rcWork.bottom);

    const auto every = [](const std::function<bool(int)>& holds) {
        return holds(0) && holds(1) && holds(2);
    };
    // Every tile shows `results` and waits for Enter again.
    const auto round = [&](const std::vector<std::string>& results) {
        return WaitFor(
            [&] {
                return every([&](int station) {
                    return text(tile(station, Window::kTileResult)) == results[station] &&
                           text(tile(station, Window::kTilePhase)) == "waiting for Enter";
                });
            },
            kJobTimeout);
    };
    // What the tiles show, and what has the operator's keys, for a failure's message.
    const auto shown = [&] {
        std::string tiles;
        for (int station = 0; station < 3; ++station) {
            tiles += text(tile(station, Window::kTileResult)) + " / " +
                     text(tile(station, Window::kTilePhase)) + "; ";
        }
        GUITHREADINFO gui{};
        gui.cbSize = sizeof(gui);
        ::GetGUIThreadInfo(threadId, &gui);
        return tiles + text(Window::kRunMessage) + "; focus on control " +
               std::to_string(::GetDlgCtrlID(gui.hwndFocus)) + ", boxes open " +
               std::to_string(ThreadWindows(threadId, L"#32770", dialog).size());
    };
    const auto take = [&](const char* at) {
        if (picture.empty() || pictureAt != at) {
            return;
        }
        ::RedrawWindow(dialog, nullptr, nullptr,
                       RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Send(dialog, WM_NULL, 0, 0, "WM_NULL");
        const Status saved = SaveWindowBitmap(dialog, PathFromUtf8(HostPath(picture)).wstring());
        EXPECT_TRUE(saved) << (saved ? "" : saved.error().text);
    };

    Send(::GetDlgItem(dialog, Window::kStart), BM_CLICK, 0, 0, "Start");
    // No control of the setup, the tiles or the run covers another.
    const std::vector<HWND> controls = Children(dialog);
    for (std::size_t one = 0; one < controls.size(); ++one) {
        for (std::size_t other = one + 1; other < controls.size(); ++other) {
            RECT a = RectInClient(dialog, controls[one]);
            RECT b = RectInClient(dialog, controls[other]);
            RECT both{};
            EXPECT_FALSE(::IntersectRect(&both, &a, &b))
                << Utf8(WindowText(controls[one])) << " (" << ::GetDlgCtrlID(controls[one])
                << ") and " << Utf8(WindowText(controls[other])) << " ("
                << ::GetDlgCtrlID(controls[other]) << ")";
        }
    }
    if (pictureAt == "running") {
        ASSERT_TRUE(WaitFor(
            [&] {
                return every([&](int station) {
                    const HWND bar = ::GetDlgItem(dialog, tile(station, Window::kTileProgress));
                    return text(tile(station, Window::kTilePhase)) == "programming" &&
                           Send(bar, PBM_GETPOS, 0, 0) * 3 >= Send(bar, PBM_GETRANGE, FALSE, 0);
                });
            },
            kJobTimeout));
        take("running");
    }
    ASSERT_TRUE(round({"OK", "OK", "OK"})) << shown();
    // A tile's log: the station's lines of its board.
    ::PostMessageW(::GetDlgItem(dialog, tile(0, Window::kTileLog)), BM_CLICK, 0, 0);
    const HWND log = WaitForThreadWindow(threadId, L"#32770", dialog);
    ASSERT_NE(log, nullptr);
    EXPECT_NE(Utf8(WindowText(::GetDlgItem(log, 0xFFFF))).find("Download finished successfully!"),
              std::string::npos);
    ::PostMessageW(log, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(
        WaitFor([&] { return ThreadWindows(threadId, L"#32770", dialog).empty(); }, kPopupTimeout));
    // Enter as the keyboard gives it: to the control with the focus, through the dialog's own
    // key handling (Start, clicked, had the focus until the run turned it off).
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    ASSERT_TRUE(::GetGUIThreadInfo(threadId, &gui));
    ASSERT_NE(gui.hwndFocus, nullptr) << "no control has the focus: Enter goes nowhere";
    const LPARAM scan = static_cast<LPARAM>(::MapVirtualKeyW(VK_RETURN, MAPVK_VK_TO_VSC)) << 16;
    ::PostMessageW(gui.hwndFocus, WM_KEYDOWN, VK_RETURN, scan | 1);
    ::PostMessageW(gui.hwndFocus, WM_KEYUP, VK_RETURN, scan | 1 | (LPARAM{3} << 30));
    ASSERT_TRUE(round({"OK", "OK", "FAILED"})) << shown();
    EXPECT_EQ(text(tile(2, Window::kTileDetail)).rfind("Wrong CRC!\n", 0), 0u);
    EXPECT_EQ(text(tile(0, Window::kTileBoards)), "Boards: 2");
    EXPECT_EQ(text(Window::kTotals).rfind("Boards: 6    OK: 5    Failed: 1    Aborted: 0", 0), 0u)
        << text(Window::kTotals);
    take("failed");

    // Stop ends the run; the setup is open again, and the view closes without a question.
    Send(::GetDlgItem(dialog, Window::kStop), BM_CLICK, 0, 0, "Stop");
    ASSERT_TRUE(WaitFor([&] { return ::IsWindowEnabled(::GetDlgItem(dialog, Window::kStart)); },
                        kJobTimeout));
    Send(dialog, WM_CLOSE, 0, 0, "close");
    ASSERT_TRUE(WaitFor([&] { return window.Handle() == nullptr; }, kOpenTimeout));

    ExpectRecordOfRounds(record, ports, 2, 2, 2, "Wrong CRC!");
}
