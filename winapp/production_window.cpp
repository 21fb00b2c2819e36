#include "winapp/production_window.h"

#include <commctrl.h>

#include <algorithm>

#include "platform/system_env.h"
#include "platform/utf16_text.h"
#include "production/port_check.h"
#include "winapp/registry_settings_store.h"
#include "winapp/win32_message_box.h"
#include "window/engine_production_runner.h"
#include "window/window_lists.h"

namespace quillon {

namespace {

constexpr UINT kEventMessage = WM_APP + 2;
constexpr UINT_PTR kEventTimer = 1;
constexpr UINT kEventTimerMs = 200;

constexpr COLORREF kOkColor = RGB(0x2E, 0x9E, 0x3E);
constexpr COLORREF kFailedColor = RGB(0xD0, 0x2C, 0x2C);

// The layout, in pixels: the setup above, then the tiles (four to a row), then the totals and
// the buttons.
constexpr int kWidth = 940;
constexpr int kHeight = 720;
constexpr int kTilesTop = 300;
constexpr int kTileWidth = 220;
constexpr int kTileHeight = 170;

constexpr SerialNumberSource kSources[] = {
    SerialNumberSource::kOff, SerialNumberSource::kCounterFile, SerialNumberSource::kListFile,
    SerialNumberSource::kDatabaseCounter};
constexpr RepeatMode kRepeatModes[] = {RepeatMode::kOnce, RepeatMode::kEnter, RepeatMode::kReplug};

HINSTANCE Instance() {
    return ::GetModuleHandleW(nullptr);
}

std::wstring Wide(const std::string& text) {
    return Utf16FromUtf8(text);
}

std::string TextOf(HWND control) {
    const int length = ::GetWindowTextLengthW(control);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    ::GetWindowTextW(control, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    std::string utf8 = Utf8FromUtf16(text);
    const auto begin = utf8.find_first_not_of(" \t");
    const auto end = utf8.find_last_not_of(" \t");
    return begin == std::string::npos ? std::string() : utf8.substr(begin, end - begin + 1);
}

int Selected(HWND combo) {
    return static_cast<int>(::SendMessageW(combo, CB_GETCURSEL, 0, 0));
}

void FillCombo(HWND combo, const std::vector<std::string>& entries, int selected) {
    ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    for (const std::string& entry : entries) {
        ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(entry).c_str()));
    }
    ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

}  // namespace

Win32ProductionWindow::Win32ProductionWindow(SettingsStore& store, ProductionSources sources,
                                             const ProductionRunnerFactory& makeRunner)
    : m_poster([this](ProductionEventPoster::Call call) { Post(std::move(call)); }) {
    sources.runner = makeRunner(m_poster);
    m_controller = std::make_unique<ProductionViewController>(*this, store, std::move(sources));
}

Win32ProductionWindow::~Win32ProductionWindow() {
    m_controller.reset();  // the run ends here; its last posts are freed unheard
    for (HGDIOBJ object : {static_cast<HGDIOBJ>(m_font), static_cast<HGDIOBJ>(m_bigFont),
                           static_cast<HGDIOBJ>(m_okBrush), static_cast<HGDIOBJ>(m_failedBrush)}) {
        if (object != nullptr) {
            ::DeleteObject(object);
        }
    }
}

void Win32ProductionWindow::RunModal(HWND owner, const std::string& programDirectory,
                                     const std::wstring& settingsKey,
                                     const std::string& imageFile) {
    RegistrySettingsStore store(HKEY_CURRENT_USER, settingsKey);
    ProductionSources sources;
    sources.targetFolders = FindTargetFolders(programDirectory);
    sources.sameDevice = [](const std::vector<std::string>& ports) { return SameDevice(ports); };
    sources.imageFile = imageFile;
    Win32ProductionWindow window(store, std::move(sources), [&](ProductionEvents& events) {
        return std::make_unique<EngineProductionRunner>(events, SystemEnv::Default(),
                                                        programDirectory + "\\quillon-cli.exe",
                                                        FindTargetFolders(programDirectory));
    });
    window.DoModal(owner);
}

void Win32ProductionWindow::DoModal(HWND owner) {
    // An empty template: the controls are made in WM_INITDIALOG.
    struct alignas(4) {
        DLGTEMPLATE dialog;
        WORD menu = 0;
        WORD windowClass = 0;
        wchar_t title[32] = L"Quillon \u2013 Production";
    } layout{};
    layout.dialog.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;
    ::DialogBoxIndirectParamW(Instance(), &layout.dialog, owner, DialogProc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK Win32ProductionWindow::DialogProc(HWND window, UINT message, WPARAM wParam,
                                                   LPARAM lParam) {
    Win32ProductionWindow* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Win32ProductionWindow*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->m_window = window;
    } else {
        self = reinterpret_cast<Win32ProductionWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
    }
    if (self == nullptr) {
        return FALSE;
    }
    const INT_PTR result = self->OnMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        {
            std::lock_guard<std::mutex> lock(self->m_postMutex);
            self->m_postTarget = nullptr;
        }
        ::SetWindowLongPtrW(window, DWLP_USER, 0);
        self->m_window = nullptr;
    }
    return result;
}

INT_PTR Win32ProductionWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            RECT frame{0, 0, kWidth, kHeight};
            ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongW(m_window, GWL_STYLE)),
                                 FALSE, 0);
            PlaceCentered(frame.right - frame.left, frame.bottom - frame.top);
            CreateControls();
            // Enter presses Next wherever the focus is, unless it is on another button.
            ::SendMessageW(m_window, DM_SETDEFID, kNext, 0);
            {
                std::lock_guard<std::mutex> lock(m_postMutex);
                m_postTarget = m_window;
            }
            ::SetTimer(m_window, kEventTimer, kEventTimerMs, nullptr);
            m_controller->Open();
            return TRUE;
        }
        case kEventMessage:
            TakeEvents();
            return TRUE;
        case WM_TIMER:
            if (wParam == kEventTimer) {
                TakeEvents();
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            m_controller->OnClose();
            return TRUE;
        case WM_CTLCOLORSTATIC: {
            const int id = ::GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
            if (id < kTileBase || (id - kTileBase) % 10 != kTileResult) {
                return FALSE;
            }
            const std::size_t tile = static_cast<std::size_t>((id - kTileBase) / 10);
            const int result = tile < m_tileResults.size() ? m_tileResults[tile] : 0;
            if (result != 1 && result != 2) {
                return FALSE;
            }
            HDC dc = reinterpret_cast<HDC>(wParam);
            ::SetTextColor(dc, RGB(0xFF, 0xFF, 0xFF));
            ::SetBkColor(dc, result == 1 ? kOkColor : kFailedColor);
            return reinterpret_cast<INT_PTR>(result == 1 ? m_okBrush : m_failedBrush);
        }
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (HIWORD(wParam) != BN_CLICKED) {
                return FALSE;
            }
            switch (id) {
                case IDOK:  // Enter
                    m_controller->OnNext();
                    return TRUE;
                case IDCANCEL:  // Escape
                    m_controller->OnEscape();
                    return TRUE;
                case kStart:
                    m_controller->OnStart(SetupFromControls());
                    return TRUE;
                case kNext:
                    m_controller->OnNext();
                    return TRUE;
                case kStop:
                    m_controller->OnStop();
                    return TRUE;
                case kAbort:
                    m_controller->OnAbort();
                    return TRUE;
                case kAddPort: {
                    const std::string port = TextOf(Item(kNetworkPort));
                    if (!port.empty()) {
                        AddStationEntry(port, port, true);
                        ::SetWindowTextW(Item(kNetworkPort), L"");
                    }
                    return TRUE;
                }
                default:
                    if (id >= kTileBase && (id - kTileBase) % 10 == kTileLog) {
                        m_controller->OnOpenStationLog(
                            static_cast<std::size_t>((id - kTileBase) / 10));
                        return TRUE;
                    }
                    return FALSE;
            }
        }
        default:
            return FALSE;
    }
}

void Win32ProductionWindow::PlaceCentered(int width, int height) {
    // The dialog was centered for its empty template; at its full size it is centered again in
    // the work area of its screen, its caption kept on it, so that the buttons at its bottom
    // are not beyond the screen's edge.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    RECT area{0, 0, width, height};
    if (::GetMonitorInfoW(::MonitorFromWindow(m_window, MONITOR_DEFAULTTONEAREST), &monitor)) {
        area = monitor.rcWork;
    }
    const int x = std::max(area.left, area.left + (area.right - area.left - width) / 2);
    const int y = std::max(area.top, area.top + (area.bottom - area.top - height) / 2);
    ::SetWindowPos(m_window, nullptr, x, y, width, height, SWP_NOZORDER);
}

HWND Win32ProductionWindow::Create(const wchar_t* type, const std::wstring& text, DWORD style,
                                   int id, int x, int y, int width, int height) {
    HWND control = ::CreateWindowExW(
        0, type, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, width, height, m_window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    return control;
}

void Win32ProductionWindow::CreateControls() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    m_font = ::CreateFontIndirectW(&metrics.lfMessageFont);
    LOGFONTW big = metrics.lfMessageFont;
    big.lfHeight *= 3;
    big.lfWeight = FW_BOLD;
    m_bigFont = ::CreateFontIndirectW(&big);
    m_okBrush = ::CreateSolidBrush(kOkColor);
    m_failedBrush = ::CreateSolidBrush(kFailedColor);

    const DWORD edit = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
    const DWORD combo = WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
    const auto row = [this](int column, int line, const wchar_t* label, const wchar_t* type,
                            DWORD style, int id) {
        const int x = column == 0 ? 10 : 470;
        const int y = 10 + line * 28;
        m_setupControls.push_back(Create(L"STATIC", label, 0, -1, x, y + 3, 120, 20));
        m_setupControls.push_back(Create(type, L"", style, id, x + 125, y, 330,
                                         type == std::wstring(L"COMBOBOX") ? 200 : 22));
    };
    row(0, 0, L"Target", L"COMBOBOX", combo, kTarget);
    row(0, 1, L"Image file", L"EDIT", edit, kImage);
    row(0, 2, L"Baud rate", L"COMBOBOX", combo, kBaudRate);
    row(0, 3, L"Echo window", L"EDIT", edit | ES_NUMBER, kEchoWindow);
    m_setupControls.push_back(Create(L"BUTTON", L"Erase all sectors", WS_TABSTOP | BS_AUTOCHECKBOX,
                                     kEraseAll, 135, 122, 200, 20));
    row(0, 5, L"Record file", L"EDIT", edit, kRecord);
    row(0, 6, L"Repeat", L"COMBOBOX", combo, kRepeat);
    row(0, 7, L"Network port", L"EDIT", edit, kNetworkPort);
    m_setupControls.push_back(
        Create(L"BUTTON", L"Add", WS_TABSTOP | BS_PUSHBUTTON, kAddPort, 395, 228, 70, 24));
    ::SetWindowPos(Item(kNetworkPort), nullptr, 0, 0, 255, 22, SWP_NOMOVE | SWP_NOZORDER);
    m_setupControls.push_back(Create(L"STATIC", L"Stations", 0, -1, 470, 13, 120, 20));
    HWND stations = Create(WC_LISTVIEWW, L"",
                           WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL,
                           kStations, 595, 10, 330, 100);
    m_setupControls.push_back(stations);
    ListView_SetExtendedListViewStyle(stations, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH;
    column.cx = 305;
    ListView_InsertColumn(stations, 0, &column);
    row(1, 4, L"Serial numbers", L"COMBOBOX", combo, kSerialSource);
    row(1, 5, L"Counter or list file", L"EDIT", edit, kSerialFile);
    row(1, 6, L"Database counter", L"EDIT", edit, kSerialCounter);
    row(1, 7, L"Place / format", L"EDIT", edit, kSerialAt);
    ::SetWindowPos(Item(kSerialAt), nullptr, 0, 0, 160, 22, SWP_NOMOVE | SWP_NOZORDER);
    m_setupControls.push_back(Create(L"EDIT", L"", edit, kSerialFormat, 765, 206, 160, 22));
    row(1, 8, L"Placeholder", L"EDIT", edit, kSerialPlaceholder);
    row(1, 9, L"Factory database", L"EDIT", edit, kDatabase);
    m_setupControls.push_back(
        Create(L"BUTTON", L"Start", WS_TABSTOP | BS_PUSHBUTTON, kStart, 365, 262, 100, 26));
    FillCombo(Item(kSerialSource),
              {"no serial numbers", "counter file", "list file", "database counter"}, 0);
    FillCombo(
        Item(kRepeat),
        {"One board per station", "Next board on Enter", "Next board when the port comes back"}, 1);

    Create(L"STATIC", L"", 0, kTotals, 10, kHeight - 100, 900, 20);
    Create(L"STATIC", L"", SS_PATHELLIPSIS, kRecordPath, 10, kHeight - 80, 500, 20);
    Create(L"STATIC", L"", 0, kRunMessage, 10, kHeight - 60, 500, 20);
    HWND next =
        Create(L"BUTTON", L"Next", WS_TABSTOP | BS_PUSHBUTTON, kNext, 520, kHeight - 62, 200, 52);
    ::SendMessageW(next, WM_SETFONT, reinterpret_cast<WPARAM>(m_bigFont), FALSE);
    Create(L"BUTTON", L"Stop", WS_TABSTOP | BS_PUSHBUTTON, kStop, 730, kHeight - 50, 95, 28);
    Create(L"BUTTON", L"Abort", WS_TABSTOP | BS_PUSHBUTTON, kAbort, 830, kHeight - 50, 95, 28);
}

void Win32ProductionWindow::AddStationEntry(const std::string& port, const std::string& text,
                                            bool checked) {
    HWND stations = Item(kStations);
    const std::wstring wide = Wide(text);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(m_stationPorts.size());
    item.pszText = const_cast<wchar_t*>(wide.c_str());
    const int at = static_cast<int>(
        ::SendMessageW(stations, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    ListView_SetCheckState(stations, at, checked ? TRUE : FALSE);
    m_stationPorts.push_back(port);
}

ProductionSettings Win32ProductionWindow::SetupFromControls() const {
    ProductionSettings settings;
    settings.target = TextOf(Item(kTarget));
    settings.image = TextOf(Item(kImage));
    settings.baudRate = OfferedBaudRate(TextOf(Item(kBaudRate)));
    settings.echoWindow = EchoWindowFromText(TextOf(Item(kEchoWindow)));
    settings.eraseAll = ::IsDlgButtonChecked(m_window, kEraseAll) == BST_CHECKED;
    for (std::size_t entry = 0; entry < m_stationPorts.size(); ++entry) {
        if (ListView_GetCheckState(Item(kStations), static_cast<int>(entry))) {
            settings.stations.push_back(m_stationPorts[entry]);
        }
    }
    settings.record = TextOf(Item(kRecord));
    settings.serialSource = kSources[std::max(0, Selected(Item(kSerialSource)))];
    settings.serialFile = TextOf(Item(kSerialFile));
    settings.serialCounter = TextOf(Item(kSerialCounter));
    settings.serialAt = TextOf(Item(kSerialAt));
    settings.serialFormat = TextOf(Item(kSerialFormat));
    settings.serialPlaceholder = TextOf(Item(kSerialPlaceholder));
    settings.database = TextOf(Item(kDatabase));
    settings.repeat = kRepeatModes[std::max(0, Selected(Item(kRepeat)))];
    return settings;
}

void Win32ProductionWindow::ShowSetup(const ProductionSetupLists& lists,
                                      const ProductionSettings& settings) {
    const auto index = [](const std::vector<std::string>& entries, const std::string& wanted) {
        const auto found = std::find(entries.begin(), entries.end(), wanted);
        return found == entries.end() ? -1 : static_cast<int>(found - entries.begin());
    };
    FillCombo(Item(kTarget), lists.targets, index(lists.targets, settings.target));
    ::SetWindowTextW(Item(kImage), Wide(settings.image).c_str());
    FillCombo(Item(kBaudRate), lists.baudRates,
              settings.baudRate ? index(lists.baudRates, BaudRateText(*settings.baudRate)) : -1);
    ::SetWindowTextW(Item(kEchoWindow), std::to_wstring(settings.echoWindow.bytes).c_str());
    ::CheckDlgButton(m_window, kEraseAll, settings.eraseAll ? BST_CHECKED : BST_UNCHECKED);
    ListView_DeleteAllItems(Item(kStations));
    m_stationPorts.clear();
    const auto checked = [&settings](const std::string& port) {
        return std::find(settings.stations.begin(), settings.stations.end(), port) !=
               settings.stations.end();
    };
    for (std::size_t entry = 0; entry < lists.ports.size(); ++entry) {
        const std::string description =
            entry < lists.portDescriptions.size() ? lists.portDescriptions[entry] : "";
        AddStationEntry(lists.ports[entry], OpenPortListText(lists.ports[entry], description),
                        checked(lists.ports[entry]));
    }
    // A saved station that is not listed (a port on the network, an adapter unplugged now)
    // stays in the list, checked.
    for (const std::string& station : settings.stations) {
        if (index(lists.ports, station) < 0) {
            AddStationEntry(station, station, true);
        }
    }
    ::SetWindowTextW(Item(kRecord), Wide(settings.record).c_str());
    for (int entry = 0; entry < static_cast<int>(std::size(kSources)); ++entry) {
        if (kSources[entry] == settings.serialSource) {
            ::SendMessageW(Item(kSerialSource), CB_SETCURSEL, static_cast<WPARAM>(entry), 0);
        }
    }
    ::SetWindowTextW(Item(kSerialFile), Wide(settings.serialFile).c_str());
    ::SetWindowTextW(Item(kSerialCounter), Wide(settings.serialCounter).c_str());
    ::SetWindowTextW(Item(kSerialAt), Wide(settings.serialAt).c_str());
    ::SetWindowTextW(Item(kSerialFormat), Wide(settings.serialFormat).c_str());
    ::SetWindowTextW(Item(kSerialPlaceholder), Wide(settings.serialPlaceholder).c_str());
    ::SetWindowTextW(Item(kDatabase), Wide(settings.database).c_str());
    for (int entry = 0; entry < static_cast<int>(std::size(kRepeatModes)); ++entry) {
        if (kRepeatModes[entry] == settings.repeat) {
            ::SendMessageW(Item(kRepeat), CB_SETCURSEL, static_cast<WPARAM>(entry), 0);
        }
    }
}

void Win32ProductionWindow::ShowTiles(const std::vector<StationTile>& tiles) {
    for (std::size_t tile = 0; tile < m_tileResults.size(); ++tile) {
        for (int part = kTilePort; part <= kTileLog; ++part) {
            ::DestroyWindow(Item(kTileBase + 10 * static_cast<int>(tile) + part));
        }
    }
    m_tileResults.assign(tiles.size(), 0);
    for (std::size_t tile = 0; tile < tiles.size(); ++tile) {
        const int id = kTileBase + 10 * static_cast<int>(tile);
        const int x = 10 + static_cast<int>(tile % 4) * (kTileWidth + 10);
        const int y = kTilesTop + static_cast<int>(tile / 4) * (kTileHeight + 10);
        const int width = kTileWidth;
        // Two lines, the port above its description (an ellipsis style would draw one line).
        Create(L"STATIC", L"", SS_LEFTNOWORDWRAP | SS_NOPREFIX, id + kTilePort, x, y, width, 36);
        Create(L"STATIC", L"", 0, id + kTileBoards, x, y + 36, width, 18);
        Create(L"STATIC", L"", 0, id + kTilePhase, x, y + 54, width, 18);
        Create(PROGRESS_CLASSW, L"", 0, id + kTileProgress, x, y + 74, width, 12);
        HWND result = Create(L"STATIC", L"", SS_CENTER | SS_CENTERIMAGE, id + kTileResult, x,
                             y + 90, width, 40);
        ::SendMessageW(result, WM_SETFONT, reinterpret_cast<WPARAM>(m_bigFont), FALSE);
        Create(L"STATIC", L"", 0, id + kTileDetail, x, y + 132, width - 60, 36);
        Create(L"BUTTON", L"Log", WS_TABSTOP | BS_PUSHBUTTON, id + kTileLog, x + width - 55,
               y + 140, 55, 24);
        ShowTile(tile, tiles[tile]);
    }
}

void Win32ProductionWindow::ShowTile(std::size_t index, const StationTile& tile) {
    if (index >= m_tileResults.size()) {
        return;
    }
    const int id = kTileBase + 10 * static_cast<int>(index);
    ::SetDlgItemTextW(m_window, id + kTilePort, Wide(tile.port + "\n" + tile.description).c_str());
    ::SetDlgItemTextW(m_window, id + kTileBoards,
                      (L"Boards: " + std::to_wstring(tile.boards)).c_str());
    ::SetDlgItemTextW(m_window, id + kTilePhase, Wide(StationPhaseText(tile.phase)).c_str());
    HWND bar = Item(id + kTileProgress);
    ::SendMessageW(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(tile.total == 0 ? 1 : tile.total));
    ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(tile.done), 0);
    std::string result;
    std::string detail;
    m_tileResults[index] = 0;
    if (tile.last) {
        result = BoardResultText(tile.last->result);
        detail = BoardDetailText(*tile.last);
        if (tile.last->result == BoardOutcome::kFailed && !tile.last->failure.empty()) {
            detail = tile.last->failure + "\n" + detail;
        }
        m_tileResults[index] = tile.last->result == BoardOutcome::kOk       ? 1
                               : tile.last->result == BoardOutcome::kFailed ? 2
                                                                            : 3;
    }
    ::SetDlgItemTextW(m_window, id + kTileResult, Wide(result).c_str());
    ::InvalidateRect(Item(id + kTileResult), nullptr, TRUE);
    ::SetDlgItemTextW(m_window, id + kTileDetail, Wide(detail).c_str());
}

void Win32ProductionWindow::ShowTotals(const ProductionTotals& totals,
                                       const std::string& recordPath) {
    const std::string text =
        "Boards: " + std::to_string(totals.boards) + "    OK: " + std::to_string(totals.ok) +
        "    Failed: " + std::to_string(totals.failed) +
        "    Aborted: " + std::to_string(totals.aborted) +
        "    Boards per hour: " + std::to_string(static_cast<long>(totals.boardsPerHour + 0.5));
    ::SetDlgItemTextW(m_window, kTotals, Wide(text).c_str());
    ::SetDlgItemTextW(m_window, kRecordPath, Wide("Record: " + recordPath).c_str());
}

void Win32ProductionWindow::ShowRunMessage(const std::string& text) {
    ::SetDlgItemTextW(m_window, kRunMessage, Wide(text).c_str());
}

void Win32ProductionWindow::ShowControls(const ProductionControls& controls) {
    for (HWND control : m_setupControls) {
        ::EnableWindow(control, controls.setup);
    }
    ::EnableWindow(Item(kNext), controls.next);
    ::EnableWindow(Item(kStop), controls.stop);
    ::EnableWindow(Item(kAbort), controls.abort);
    // A control that is turned off loses the focus (Start, once clicked, or Next while the
    // boards are in work), and a dialog without a focused control never sees Enter.
    const HWND focus = ::GetFocus();
    if (focus == nullptr || focus == Item(kTotals) || !::IsWindowEnabled(focus)) {
        FocusForEnter();
    }
}

void Win32ProductionWindow::FocusForEnter() {
    // Next when it is on, else the totals (a static), from where Enter still presses Next, the
    // default button, once that is on. Not while another window (a box of this view, another
    // program) is active.
    if (::GetActiveWindow() == m_window) {
        const HWND next = Item(kNext);
        ::SendMessageW(m_window, WM_NEXTDLGCTL,
                       reinterpret_cast<WPARAM>(::IsWindowEnabled(next) ? next : Item(kTotals)),
                       TRUE);
    }
}

void Win32ProductionWindow::ShowMessage(const WindowMessage& message) {
    ::MessageBoxW(
        m_window, Wide(message.text).c_str(), L"Quillon",
        MB_OK | (message.icon == MessageIcon::kWarning ? MB_ICONWARNING : MB_ICONINFORMATION));
}

bool Win32ProductionWindow::Confirm(const std::string& question) {
    return ::MessageBoxW(m_window, Wide(question).c_str(), L"Quillon",
                         MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void Win32ProductionWindow::ShowStationLog(const std::string& title,
                                           const std::vector<std::string>& lines) {
    // The last lines, which a message box can hold.
    constexpr std::size_t kShown = 40;
    std::string text;
    for (std::size_t line = lines.size() > kShown ? lines.size() - kShown : 0; line < lines.size();
         ++line) {
        text += lines[line] + "\n";
    }
    ::MessageBoxW(m_window, Wide(text).c_str(), Wide(title).c_str(), MB_OK);
    // The dialog gives the focus back to the tile's Log button, where Enter would open the log
    // again instead of pressing Next.
    FocusForEnter();
}

void Win32ProductionWindow::Close() {
    m_closing = true;
    ::KillTimer(m_window, kEventTimer);
    ::EndDialog(m_window, IDCANCEL);
}

void Win32ProductionWindow::Post(ProductionEventPoster::Call call) {
    std::lock_guard<std::mutex> lock(m_postMutex);
    if (m_postTarget == nullptr) {
        return;  // no window (any more): the event is freed here
    }
    m_posted.push_back(std::move(call));
    if (!m_wakePosted) {
        // A failed post leaves the event queued for the next post or the timer.
        m_wakePosted = ::PostMessageW(m_postTarget, kEventMessage, 0, 0) != FALSE;
    }
}

void Win32ProductionWindow::TakeEvents() {
    for (;;) {
        ProductionEventPoster::Call call;
        {
            std::lock_guard<std::mutex> lock(m_postMutex);
            if (m_posted.empty()) {
                m_wakePosted = false;
                return;
            }
            call = std::move(m_posted.front());
            m_posted.pop_front();
        }
        call(*m_controller);
        if (m_closing) {
            return;
        }
    }
}

}  // namespace quillon
