// The Win32 production view through its controls: a runner that the test plays, whose events
// come from the test's thread as a run's come from its own.
#include <gtest/gtest.h>

#include <atomic>

#include "tests/support/memory_store.h"
#include "tests/support/played_production_run.h"
#include "tests/support/win32_window_driver.h"
#include "winapp/production_window.h"

using namespace quillon;
using namespace quillon::win32_window;

namespace {

using Window = Win32ProductionWindow;

}  // namespace

TEST(Win32ProductionWindowTest, TilesControlsAndACloseThatWaitsForTheBoards) {
    MemoryStore store;
    store.values = {{"Production/Target", "Virtual Target"},
                    {"Production/Image", "demo.hex"},
                    {"Production/Stations", "COM5\nCOM6"},
                    {"Production/Record", "record.jsonl"}};
    PlayedProductionRun played;
    ProductionSources sources;
    sources.enumeratePorts = ListPorts({"COM5"});
    // The target list is empty here: the setup names its target by the stored text alone.
    Window window(store, std::move(sources), played.Factory());
    std::atomic<DWORD> threadId{0};
    std::thread modal([&] {
        threadId = ::GetCurrentThreadId();
        window.DoModal(nullptr);
    });
    // Whatever fails, the dialog ends and its thread is joined: its boxes answered, the run
    // ended, the view closed.
    struct Ending {
        ~Ending() {
            for (int tries = 0; window.Handle() != nullptr && tries < 50; ++tries) {
                for (HWND box : ThreadWindows(threadId, L"#32770", window.Handle())) {
                    ::PostMessageW(box, WM_COMMAND, IDNO, 0);
                    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
                }
                if (played.events() != nullptr) {
                    played.events()->OnRunEnded({});
                }
                ::PostMessageW(window.Handle(), WM_CLOSE, 0, 0);
                WaitFor([this] { return window.Handle() == nullptr; }, kAnswerTimeout / 10);
            }
            modal.join();
        }
        Window& window;
        PlayedProductionRun& played;
        std::atomic<DWORD>& threadId;
        std::thread& modal;
    } ending{window, played, threadId, modal};
    HWND dialog = nullptr;
    const auto item = [&dialog](int id) { return ::GetDlgItem(dialog, id); };
    const auto text = [&](int id) { return WindowText(item(id)); };
    ASSERT_TRUE(WaitFor(
        [&] {
            dialog = window.Handle();
            return dialog != nullptr && item(Window::kImage) != nullptr &&
                   text(Window::kImage) == L"demo.hex";
        },
        kOpenTimeout));
    EXPECT_TRUE(::IsWindowEnabled(item(Window::kStart)));
    EXPECT_FALSE(::IsWindowEnabled(item(Window::kNext)));
    // No target listed: the start is refused in a box, which the operator confirms.
    ::PostMessageW(item(Window::kStart), BM_CLICK, 0, 0);
    HWND box = WaitForThreadWindow(threadId, L"#32770", dialog);
    ASSERT_NE(box, nullptr);
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(
        WaitFor([&] { return ThreadWindows(threadId, L"#32770", dialog).empty(); }, kPopupTimeout));
    EXPECT_EQ(played.Count("start"), 0);

    // With a target chosen the run starts: one tile per checked station.
    ::SendMessageW(item(Window::kTarget), CB_ADDSTRING, 0,
                   reinterpret_cast<LPARAM>(L"Virtual Target"));
    ::SendMessageW(item(Window::kTarget), CB_SETCURSEL, 0, 0);
    Send(item(Window::kStart), BM_CLICK, 0, 0, "Start");
    EXPECT_EQ(played.Count("start"), 1);
    EXPECT_FALSE(::IsWindowEnabled(item(Window::kStart)));
    EXPECT_EQ(text(Window::kRunMessage), L"Preparing\u2026");  // until the run's first event
    const int tile1 = Window::kTileBase + 10;
    EXPECT_EQ(text(tile1 + Window::kTilePort), L"COM6\nCOM6");

    // The run's events, from this thread: the second station fails its board.
    played.events()->OnStationStarted({1, "COM6", 1, std::nullopt});
    played.events()->OnStationStatus({1, StationPhase::kProgramming, ""});
    ASSERT_TRUE(WaitFor([&] { return text(tile1 + Window::kTilePhase) == L"programming"; },
                        kAnswerTimeout));
    EXPECT_TRUE(::IsWindowEnabled(item(Window::kAbort)));
    EXPECT_EQ(text(Window::kRunMessage), L"");
    // Closing while a board is in work asks; No keeps the run.
    ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    box = WaitForThreadWindow(threadId, L"#32770", dialog);
    ASSERT_NE(box, nullptr);
    ::PostMessageW(box, WM_COMMAND, IDNO, 0);
    ASSERT_TRUE(
        WaitFor([&] { return ThreadWindows(threadId, L"#32770", dialog).empty(); }, kPopupTimeout));
    EXPECT_EQ(played.Count("stop"), 0);

    BoardDone done{1, 1, BoardOutcome::kFailed, "Wrong CRC!", "000042", 3.0, {}};
    done.totals.boards = 1;
    played.events()->OnBoardDone(done);
    played.events()->OnStationStatus({1, StationPhase::kWaitingForEnter, ""});
    ASSERT_TRUE(
        WaitFor([&] { return text(tile1 + Window::kTileResult) == L"FAILED"; }, kAnswerTimeout));
    EXPECT_EQ(text(tile1 + Window::kTileDetail), L"Wrong CRC!\nSN 000042  3.0 s");
    // Enter starts the waiting stations.
    Send(dialog, WM_COMMAND, IDOK, 0, "Enter");
    EXPECT_EQ(played.Count("next"), 1);

    // The close box without a board in work stops the run; the view goes once it has ended.
    Send(dialog, WM_CLOSE, 0, 0, "close");
    EXPECT_EQ(played.Count("stop"), 1);
    EXPECT_NE(window.Handle(), nullptr);
    played.events()->OnRunEnded({});
    ASSERT_TRUE(WaitFor([&] { return window.Handle() == nullptr; }, kOpenTimeout));
    EXPECT_EQ(store.values.at("Production/Stations"), "COM5\nCOM6");
}
