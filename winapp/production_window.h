#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "window/production_event_poster.h"
#include "window/production_runner.h"
#include "window/production_view_controller.h"

namespace quillon {

// The production view as a native Win32 dialog: the setup above (its controls made in code),
// one tile per station below it, the totals and the buttons Next, Stop and Abort at the
// bottom. A view of ProductionViewController, which decides everything. Enter presses Next;
// Escape and the close box go to the controller, which keeps the view open while boards are
// in work. The run's events come from its thread: each is queued under a lock and taken by
// the dialog on a posted message (or its timer, when a post failed).
class Win32ProductionWindow : public ProductionView {
public:
    // `store` must outlive the window.
    Win32ProductionWindow(SettingsStore& store, ProductionSources sources,
                          const ProductionRunnerFactory& makeRunner);
    ~Win32ProductionWindow() override;

    // Runs the dialog, modal over `owner`, until the controller closes it.
    void DoModal(HWND owner);
    HWND Handle() const { return m_window; }

    // Runs the production view of this program: the targets of `programDirectory`, its
    // stations run by quillon-cli.exe beside it, the setup under `settingsKey` of
    // HKEY_CURRENT_USER; `imageFile` (when not empty) in place of the saved image.
    static void RunModal(HWND owner, const std::string& programDirectory,
                         const std::wstring& settingsKey, const std::string& imageFile);

    // ProductionView.
    void ShowSetup(const ProductionSetupLists& lists, const ProductionSettings& settings) override;
    void ShowTiles(const std::vector<StationTile>& tiles) override;
    void ShowTile(std::size_t index, const StationTile& tile) override;
    void ShowTotals(const ProductionTotals& totals, const std::string& recordPath) override;
    void ShowRunMessage(const std::string& text) override;
    void ShowControls(const ProductionControls& controls) override;
    void ShowMessage(const WindowMessage& message) override;
    [[nodiscard]] bool Confirm(const std::string& question) override;
    void ShowStationLog(const std::string& title, const std::vector<std::string>& lines) override;
    void Close() override;

    // Control ids, for the tests that drive the dialog.
    enum : int {
        kStart = 2001,
        kNext,
        kStop,
        kAbort,
        kTarget,
        kImage,
        kBaudRate,
        kEchoWindow,
        kEraseAll,
        kStations,
        kNetworkPort,
        kAddPort,
        kRecord,
        kSerialSource,
        kSerialFile,
        kSerialCounter,
        kSerialAt,
        kSerialFormat,
        kSerialPlaceholder,
        kDatabase,
        kRepeat,
        kTotals,
        kRecordPath,
        kRunMessage,
        kTileBase = 3000,  // tile i: kTileBase + 10 * i + one of the offsets below
    };
    enum : int {
        kTilePort = 0,
        kTileBoards,
        kTilePhase,
        kTileProgress,
        kTileResult,
        kTileDetail,
        kTileLog,
    };

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    // Sizes the dialog to `width` x `height` and centers it in its screen's work area.
    void PlaceCentered(int width, int height);
    HWND Create(const wchar_t* type, const std::wstring& text, DWORD style, int id, int x, int y,
                int width, int height);
    HWND Item(int id) const { return ::GetDlgItem(m_window, id); }
    ProductionSettings SetupFromControls() const;
    void AddStationEntry(const std::string& port, const std::string& text, bool checked);
    // Puts the focus where Enter presses Next.
    void FocusForEnter();
    void TakeEvents();
    void Post(ProductionEventPoster::Call call);

    HWND m_window = nullptr;
    HFONT m_font = nullptr;
    HFONT m_bigFont = nullptr;
    HBRUSH m_okBrush = nullptr;
    HBRUSH m_failedBrush = nullptr;
    std::vector<std::string> m_stationPorts;  // the station list's ports, by entry
    std::vector<int> m_tileResults;           // per tile: 0 none, 1 ok, 2 failed, 3 aborted
    std::vector<HWND> m_setupControls;
    bool m_closing = false;

    std::mutex m_postMutex;
    std::deque<ProductionEventPoster::Call> m_posted;
    bool m_wakePosted = false;
    HWND m_postTarget = nullptr;
    ProductionEventPoster m_poster;
    std::unique_ptr<ProductionViewController> m_controller;
};

}  // namespace quillon
