#include "tests/support/win32_window_driver.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

#include "platform/utf16_text.h"
#include "res/window_ids.h"

namespace quillon {

namespace win32_window {

namespace {

constexpr UINT kMenuGetHandle = 0x01E1;  // MN_GETHMENU

std::wstring SubKey(const std::wstring& key, const wchar_t* section) {
    return key + L"\\" + section;
}

}  // namespace

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::wstring Wide(const std::string& utf8) {
    return Utf16FromUtf8(utf8);
}

std::string Utf8(const std::wstring& wide) {
    return Utf8FromUtf16(wide);
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, const char* what) {
    DWORD_PTR result = 0;
    if (::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL,
                              static_cast<UINT>(kAnswerTimeout.count()), &result) == 0) {
        ADD_FAILURE() << "message 0x" << std::hex << message << std::dec << " " << what
                      << ": no answer within " << kAnswerTimeout.count() << " ms (error "
                      << ::GetLastError() << "; a modal box open?)";
        return 0;
    }
    return static_cast<LRESULT>(result);
}

std::wstring WindowText(HWND window) {
    if (window == nullptr) {
        return L"<no window>";
    }
    const LRESULT length = Send(window, WM_GETTEXTLENGTH, 0, 0, "WM_GETTEXTLENGTH");
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied = Send(window, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                                reinterpret_cast<LPARAM>(text.data()), "WM_GETTEXT");
    text.resize(static_cast<std::size_t>(copied));
    return text;
}

std::wstring ClassName(HWND window) {
    wchar_t name[256] = {};
    ::GetClassNameW(window, name, 256);
    return name;
}

namespace {

// Every entry of a combo box or list box, read with the control's own count, length and text
// messages.
std::vector<std::wstring> EntryTexts(HWND control, UINT countMessage, UINT lengthMessage,
                                     UINT textMessage, const char* what) {
    std::vector<std::wstring> texts;
    const LRESULT count = Send(control, countMessage, 0, 0, what);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = Send(control, lengthMessage, static_cast<WPARAM>(i), 0);
        std::wstring text(static_cast<std::size_t>(length < 0 ? 0 : length) + 1, L'\0');
        const LRESULT copied = Send(control, textMessage, static_cast<WPARAM>(i),
                                    reinterpret_cast<LPARAM>(text.data()), what);
        text.resize(copied < 0 ? 0 : static_cast<std::size_t>(copied));
        texts.push_back(text);
    }
    return texts;
}

}  // namespace

std::vector<std::wstring> ComboTexts(HWND combo) {
    return EntryTexts(combo, CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT, "the combo box's entries");
}

int ComboSelection(HWND combo) {
    return static_cast<int>(Send(combo, CB_GETCURSEL, 0, 0, "CB_GETCURSEL"));
}

std::wstring ComboSelectionText(HWND combo) {
    const int selected = ComboSelection(combo);
    if (selected < 0) {
        return std::wstring();
    }
    const std::vector<std::wstring> texts = ComboTexts(combo);
    return static_cast<std::size_t>(selected) < texts.size() ? texts[selected] : L"<bad index>";
}

std::vector<std::wstring> ListTexts(HWND list) {
    return EntryTexts(list, LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT, "the list box's lines");
}

RECT RectInClient(HWND parent, HWND child) {
    RECT rect{};
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = ::GetWindow(parent, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

std::vector<HWND> ThreadWindows(DWORD threadId, const wchar_t* className, HWND except) {
    struct Search {
        const wchar_t* className;
        HWND except;
        std::vector<HWND> found;
    } search{className, except, {}};
    ::EnumThreadWindows(
        threadId,
        [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            if (window != s->except && ::IsWindowVisible(window) &&
                ClassName(window) == s->className) {
                s->found.push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForThreadWindow(DWORD threadId, const wchar_t* className, HWND except,
                         const wchar_t* caption) {
    HWND found = nullptr;
    WaitFor(
        [&] {
            for (HWND window : ThreadWindows(threadId, className, except)) {
                if (caption == nullptr || WindowText(window) == caption) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        kPopupTimeout);
    return found;
}

std::vector<std::wstring> MenuTexts(HMENU menu) {
    std::vector<std::wstring> texts;
    const int count = ::GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE;
        ::GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
        if ((info.fType & MFT_SEPARATOR) != 0) {
            texts.push_back(L"-");
            continue;
        }
        wchar_t text[256] = {};
        ::GetMenuStringW(menu, static_cast<UINT>(i), text, 256, MF_BYPOSITION);
        texts.push_back(text);
    }
    return texts;
}

HMENU PopupMenuOf(HWND popup) {
    return reinterpret_cast<HMENU>(Send(popup, kMenuGetHandle, 0, 0, "MN_GETHMENU"));
}

HGLOBAL MakeDropHandle(const std::vector<std::wstring>& files, POINT point) {
    std::size_t characters = 1;  // the closing NUL
    for (const std::wstring& file : files) {
        characters += file.size() + 1;
    }
    HGLOBAL handle =
        ::GlobalAlloc(GHND | GMEM_SHARE, sizeof(DROPFILES) + characters * sizeof(wchar_t));
    if (handle == nullptr) {
        return nullptr;
    }
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(handle));
    drop->pFiles = sizeof(DROPFILES);
    drop->pt = point;
    drop->fNC = FALSE;
    drop->fWide = TRUE;
    auto* names = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(drop) + sizeof(DROPFILES));
    for (const std::wstring& file : files) {
        std::memcpy(names, file.c_str(), (file.size() + 1) * sizeof(wchar_t));
        names += file.size() + 1;
    }
    *names = L'\0';
    ::GlobalUnlock(handle);
    return handle;
}

PortEnumerator ListPorts(std::vector<std::string> ports) {
    return [ports](std::vector<PortEntry>& listed) {
        for (const std::string& port : ports) {
            listed.push_back({port, port});
        }
        return Status();
    };
}

std::optional<RegistryValue> ReadRegistryValue(const std::wstring& key, const wchar_t* section,
                                               const wchar_t* value) {
    const std::wstring sub = SubKey(key, section);
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (::RegGetValueW(HKEY_CURRENT_USER, sub.c_str(), value, RRF_RT_ANY | RRF_NOEXPAND, &type,
                       nullptr, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::vector<BYTE> data(size + sizeof(wchar_t));
    if (::RegGetValueW(HKEY_CURRENT_USER, sub.c_str(), value, RRF_RT_ANY | RRF_NOEXPAND, &type,
                       data.data(), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    RegistryValue result;
    result.type = type;
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        result.text.assign(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
        while (!result.text.empty() && result.text.back() == L'\0') {
            result.text.pop_back();
        }
    } else if (type == REG_DWORD && size == sizeof(DWORD)) {
        std::memcpy(&result.number, data.data(), sizeof(DWORD));
    }
    return result;
}

void WriteRegistryText(const std::wstring& key, const wchar_t* section, const wchar_t* value,
                       const std::wstring& text) {
    const std::wstring sub = SubKey(key, section);
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, sub.c_str(), value, REG_SZ, text.c_str(),
                                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

void WriteRegistryNumber(const std::wstring& key, const wchar_t* section, const wchar_t* value,
                         DWORD number) {
    const std::wstring sub = SubKey(key, section);
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, sub.c_str(), value, REG_DWORD, &number,
                                sizeof(number)),
              ERROR_SUCCESS);
}

void DeleteRegistryKey(const std::wstring& key) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
}

std::vector<std::wstring> RegistryValueNames(const std::wstring& key, const wchar_t* section) {
    std::vector<std::wstring> names;
    HKEY handle = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, SubKey(key, section).c_str(), 0, KEY_READ, &handle) !=
        ERROR_SUCCESS) {
        return names;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256] = {};
        DWORD length = 256;
        if (::RegEnumValueW(handle, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, length);
    }
    ::RegCloseKey(handle);
    return names;
}

namespace {

// The window as it shows on the screen (frame included): 24-bit rows, bottom-up, as a .bmp
// stores them.
struct WindowPicture {
    BITMAPINFOHEADER header{};
    std::vector<char> rows;
};

Result<WindowPicture> CaptureWindow(HWND window) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    WindowPicture picture;
    BITMAPINFOHEADER& header = picture.header;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = rect.right - rect.left;
    header.biHeight = rect.bottom - rect.top;  // bottom-up
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    if (header.biWidth <= 0 || header.biHeight <= 0) {
        return Fail(ErrorKind::kFailed, "the window has no size");
    }
    const DWORD stride = (static_cast<DWORD>(header.biWidth) * 3 + 3) & ~3u;
    header.biSizeImage = stride * static_cast<DWORD>(header.biHeight);
    HDC windowDc = ::GetWindowDC(window);
    HDC memoryDc = ::CreateCompatibleDC(windowDc);
    BITMAPINFO info{};
    info.bmiHeader = header;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool copied = false;
    if (bitmap != nullptr) {
        HGDIOBJ previous = ::SelectObject(memoryDc, bitmap);
        copied = ::BitBlt(memoryDc, 0, 0, header.biWidth, header.biHeight, windowDc, 0, 0,
                          SRCCOPY) != FALSE;
        ::GdiFlush();
        ::SelectObject(memoryDc, previous);
    }
    const DWORD bitBltError = ::GetLastError();
    if (copied) {
        picture.rows.assign(static_cast<const char*>(bits),
                            static_cast<const char*>(bits) + header.biSizeImage);
    }
    if (bitmap != nullptr) {
        ::DeleteObject(bitmap);
    }
    ::DeleteDC(memoryDc);
    ::ReleaseDC(window, windowDc);
    if (!copied) {
        return Fail(ErrorKind::kFailed,
                    "BitBlt from the window failed (error " + std::to_string(bitBltError) + ")");
    }
    return picture;
}

}  // namespace

Status SaveWindowBitmap(HWND window, const std::wstring& path) {
    // The window has done drawing once two pictures in a row are the same.
    Result<WindowPicture> picture = CaptureWindow(window);
    const bool steady = WaitFor(
        [&] {
            Result<WindowPicture> next = CaptureWindow(window);
            const bool same = picture && next && next->rows == picture->rows;
            picture = std::move(next);
            return same || !picture;
        },
        kPopupTimeout);
    if (!picture) {
        return Fail(std::move(picture).error());
    }
    if (!steady) {
        return Fail(ErrorKind::kTimeout, "the window did not stop drawing within " +
                                             std::to_string(kPopupTimeout.count()) + " ms");
    }
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + picture->header.biSizeImage;
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&picture->header), sizeof(picture->header));
    out.write(picture->rows.data(), static_cast<std::streamsize>(picture->rows.size()));
    out.close();
    if (!out) {
        return Fail(ErrorKind::kIo, "cannot write " + Utf8(path));
    }
    return {};
}

// --- WindowSession ---------------------------------------------------------------------

WindowSession::WindowSession(Win32DownloadApp::Options options, std::string imageFile,
                             StartSelection start)
    : m_app(std::make_unique<Win32DownloadApp>(std::move(options))) {
    m_app->SetStart(std::move(start));
    m_thread = std::thread([this, imageFile] {
        m_threadId = ::GetCurrentThreadId();
        m_result = m_app->RunMainWindow(imageFile);
        m_ended = true;
    });
    WaitFor([this] { return m_threadId != 0; }, kOpenTimeout);
    HWND window = nullptr;
    const bool up = WaitFor(
        [&] {
            window = m_app->MainWindow();
            return m_ended || (window != nullptr && ::IsWindowVisible(window));
        },
        kOpenTimeout);
    if (m_ended) {
        ADD_FAILURE() << "RunMainWindow returned " << m_result << " before its window came up"
                      << (m_result == -1 ? " (-1: the dialog could not be created; under Wine: "
                                           "no X display, see err:winediag)"
                                         : "");
        return;
    }
    if (!up) {
        ADD_FAILURE() << "the main window did not come up within " << kOpenTimeout.count()
                      << " ms (MainWindow() " << (window != nullptr ? "set" : "not set") << ")";
        return;
    }
    m_window = window;
    Send(m_window, WM_NULL, 0, 0, "WM_NULL after opening");  // its start-up is done
}

WindowSession::~WindowSession() {
    CloseAll();
}

void WindowSession::CloseAll() {
    if (!m_ended) {
        const DWORD thread = m_threadId;
        HWND window = m_app->MainWindow();
        // Whatever is open over the window: menus end with WM_CANCELMODE to their owner, boxes
        // with Cancel.
        for (int round = 0; round < 5 && thread != 0; ++round) {
            const std::vector<HWND> menus = ThreadWindows(thread, L"#32768");
            const std::vector<HWND> boxes = ThreadWindows(thread, L"#32770", window);
            if (menus.empty() && boxes.empty()) {
                break;
            }
            if (!menus.empty() && window != nullptr) {
                DWORD_PTR ignored = 0;
                ::SendMessageTimeoutW(window, WM_CANCELMODE, 0, 0, SMTO_NORMAL, 2000, &ignored);
            }
            for (HWND box : boxes) {
                ::PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
            }
            WaitFor(
                [&] {
                    return ThreadWindows(thread, L"#32768").empty() &&
                           ThreadWindows(thread, L"#32770", window).empty();
                },
                kPopupTimeout);
        }
        // A running job is asked to abort (button 1 once) and waited for.
        if (window != nullptr && ::IsWindow(window)) {
            HWND initialize = ::GetDlgItem(window, IDC_INITIALIZE);
            if (initialize != nullptr && !::IsWindowEnabled(initialize)) {
                ::PostMessageW(::GetDlgItem(window, IDOK), BM_CLICK, 0, 0);
                WaitFor([&] { return m_ended || ::IsWindowEnabled(initialize) != FALSE; },
                        kJobTimeout);
            }
            if (!m_ended) {
                ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
            }
        }
        if (!WaitFor([this] { return m_ended.load(); }, kOpenTimeout) && thread != 0) {
            ADD_FAILURE() << "the window's thread did not end after Cancel; posting WM_QUIT";
            ::PostThreadMessageW(thread, WM_QUIT, 0, 0);
            if (!WaitFor([this] { return m_ended.load(); }, kOpenTimeout)) {
                std::fprintf(stderr, "win32_window_tests: the window's thread hangs; giving up\n");
                std::fflush(stderr);
                ::TerminateProcess(::GetCurrentProcess(), 99);
            }
        }
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    m_window = nullptr;
}

HWND WindowSession::Control(int id) const {
    HWND control = ::GetDlgItem(m_window, id);
    EXPECT_NE(control, nullptr) << "no control " << id;
    return control;
}

void WindowSession::Click(int id) {
    Send(Control(id), BM_CLICK, 0, 0, ("BM_CLICK on " + std::to_string(id)).c_str());
}

void WindowSession::Select(int comboId, const std::wstring& text) {
    HWND combo = Control(comboId);
    const LRESULT index = Send(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                               reinterpret_cast<LPARAM>(text.c_str()), "CB_FINDSTRINGEXACT");
    if (index == CB_ERR) {
        ADD_FAILURE() << "no entry \"" << Utf8(text) << "\" in the list " << comboId;
        return;
    }
    Send(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0, "CB_SETCURSEL");
    Send(m_window, WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo),
         "CBN_SELCHANGE");
}

void WindowSession::SetText(int id, const std::wstring& text) {
    Send(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), "WM_SETTEXT");
}

bool WindowSession::Checked(int id) const {
    return Send(Control(id), BM_GETCHECK, 0, 0, "BM_GETCHECK") == BST_CHECKED;
}

std::vector<std::wstring> WindowSession::LogLines() const {
    return ListTexts(Control(IDC_LOG));
}

std::wstring WindowSession::LastLogLine() const {
    const std::vector<std::wstring> lines = LogLines();
    return lines.empty() ? std::wstring() : lines.back();
}

bool WindowSession::CloseEntryEnabled() const {
    HMENU menu = ::GetSystemMenu(m_window, FALSE);
    const UINT state = ::GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND);
    return state != static_cast<UINT>(-1) && (state & (MF_GRAYED | MF_DISABLED)) == 0;
}

bool WindowSession::WaitForJobEnd(std::chrono::milliseconds timeout) const {
    HWND initialize = Control(IDC_INITIALIZE);
    if (!WaitFor([initialize] { return ::IsWindowEnabled(initialize) != FALSE; }, timeout)) {
        return false;
    }
    // The window sets its controls one after the other as a job ends; a message sent to it is
    // answered only once that handler has returned, so then every control shows the end.
    Send(m_window, WM_NULL, 0, 0, "WM_NULL after the job's end");
    return true;
}

std::optional<int> WindowSession::WaitForEnd(std::chrono::milliseconds timeout) {
    if (!WaitFor([this] { return m_ended.load(); }, timeout)) {
        ADD_FAILURE() << "the window did not end within " << timeout.count() << " ms";
        return std::nullopt;
    }
    m_thread.join();
    m_window = nullptr;
    return m_result.load();
}

}  // namespace win32_window

}  // namespace quillon
