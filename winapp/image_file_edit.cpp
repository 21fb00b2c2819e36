#include "winapp/image_file_edit.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "platform/utf16_text.h"
#include "window/image_file_dialog.h"

namespace quillon {

namespace {

constexpr UINT_PTR kSubclassId = 1;
// The file name buffer: any path Windows can name, and more than MAX_PATH.
constexpr std::size_t kFileBufferChars = 32768;
// The browse button in dialog units: as high as the edit box, a little wider than high.
constexpr int kBrowseWidthDlu = 16;
constexpr int kBrowseGapPixels = 2;

std::wstring WindowText(HWND window) {
    const int length = ::GetWindowTextLengthW(window);
    if (length <= 0) {
        return std::wstring();
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
}

// The rectangle of child `window` in its parent's client coordinates.
RECT ChildRect(HWND parent, HWND window) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

}  // namespace

Win32ImageFileEdit::~Win32ImageFileEdit() {
    if (m_edit != nullptr && ::IsWindow(m_edit)) {
        ::RemoveWindowSubclass(m_edit, EditProc, kSubclassId);
    }
}

Status Win32ImageFileEdit::Attach(HWND dialog, int editId, int browseId) {
    m_dialog = dialog;
    m_edit = ::GetDlgItem(dialog, editId);
    if (m_edit == nullptr) {
        return Fail(ErrorKind::kNotFound,
                    "the window has no image file field " + std::to_string(editId));
    }
    ::SetWindowSubclass(m_edit, EditProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    ::DragAcceptFiles(m_edit, TRUE);

    // The button takes the right end of the edit box's room, as high as the edit box.
    const RECT edit = ChildRect(dialog, m_edit);
    RECT units{0, 0, kBrowseWidthDlu, 0};
    ::MapDialogRect(dialog, &units);
    const int height = edit.bottom - edit.top;
    const int width = units.right > 0 ? units.right : height;
    const int browseLeft = edit.right - width;
    const int editWidth = browseLeft - kBrowseGapPixels - edit.left;
    ::SetWindowPos(m_edit, nullptr, 0, 0, editWidth > 0 ? editWidth : 0, height,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    m_browse = ::CreateWindowExW(
        0, WC_BUTTONW, L"...", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, browseLeft,
        edit.top, width, height, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(browseId)),
        ::GetModuleHandleW(nullptr), nullptr);
    if (m_browse == nullptr) {
        return Fail(ErrorKind::kFailed, "the browse button could not be made (error " +
                                            std::to_string(::GetLastError()) + ")");
    }
    ::SendMessageW(m_browse, WM_SETFONT, ::SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
    // Right after the edit box in the tab order.
    ::SetWindowPos(m_browse, m_edit, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return {};
}

std::string Win32ImageFileEdit::GetText() const {
    return m_edit != nullptr ? Utf8FromUtf16(WindowText(m_edit)) : std::string();
}

void Win32ImageFileEdit::SetText(const std::string& text) {
    if (m_edit != nullptr) {
        ::SetWindowTextW(m_edit, Utf16FromUtf8(text).c_str());
    }
}

std::wstring Win32ImageFileEdit::NativeFilter(const std::string& filter) {
    std::wstring native;
    for (const FileFilterEntry& entry : ParseFileFilter(filter)) {
        std::string patterns;
        for (const std::string& pattern : entry.patterns) {
            patterns += (patterns.empty() ? "" : ";") + pattern;
        }
        native += Utf16FromUtf8(entry.description);
        native += L'\0';
        native += Utf16FromUtf8(patterns);
        native += L'\0';
    }
    native += L'\0';
    return native;
}

void Win32ImageFileEdit::OnBrowse() {
    // The dialog may change the current directory (OFN_NOCHANGEDIR does not hold everywhere).
    std::wstring previousDirectory(::GetCurrentDirectoryW(0, nullptr), L'\0');
    if (!previousDirectory.empty()) {
        const DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(previousDirectory.size()),
                                                    previousDirectory.data());
        previousDirectory.resize(length < previousDirectory.size() ? length : 0);
    }

    const BrowseStart start = ChooseBrowseStart(GetText(), m_defaultPath);
    const std::wstring folder = Utf16FromUtf8(start.folder);
    const std::wstring preselected = Utf16FromUtf8(start.file);
    const std::wstring title = Utf16FromUtf8(m_title);
    const std::wstring filter = NativeFilter(m_filter);
    // Without the dot: the dialog adds its own.
    std::string extension = m_defaultExtension;
    if (!extension.empty() && extension.front() == '.') {
        extension.erase(0, 1);
    }
    const std::wstring defaultExtension = Utf16FromUtf8(extension);

    std::vector<wchar_t> file(kFileBufferChars, L'\0');
    if (preselected.size() < file.size()) {
        preselected.copy(file.data(), preselected.size());
    }

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = m_dialog;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.lpstrTitle = title.empty() ? nullptr : title.c_str();
    dialog.lpstrDefExt = defaultExtension.empty() ? nullptr : defaultExtension.c_str();
    dialog.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_EXPLORER;
    if (::GetOpenFileNameW(&dialog)) {
        ::SetWindowTextW(m_edit, file.data());
    }
    if (!previousDirectory.empty()) {
        ::SetCurrentDirectoryW(previousDirectory.c_str());
    }
}

void Win32ImageFileEdit::OnDropFiles(HDROP drop) {
    const UINT length = ::DragQueryFileW(drop, 0, nullptr, 0);
    if (length > 0) {
        std::vector<wchar_t> path(static_cast<std::size_t>(length) + 1, L'\0');
        if (::DragQueryFileW(drop, 0, path.data(), length + 1) > 0) {
            ::SetWindowTextW(m_edit, path.data());
        }
    }
    ::DragFinish(drop);
}

LRESULT CALLBACK Win32ImageFileEdit::EditProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam, UINT_PTR id, DWORD_PTR self) {
    auto* field = reinterpret_cast<Win32ImageFileEdit*>(self);
    switch (message) {
        case WM_DROPFILES:
            field->OnDropFiles(reinterpret_cast<HDROP>(wParam));
            return 0;
        case WM_NCDESTROY:
            ::RemoveWindowSubclass(window, EditProc, id);
            field->m_edit = nullptr;
            break;
        default:
            break;
    }
    return ::DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace quillon
