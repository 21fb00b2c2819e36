#include "winapp/port_list_box.h"

#include <algorithm>
#include <utility>

#include "platform/utf16_text.h"
#include "window/window_lists.h"

namespace quillon {

namespace {

constexpr int kTextMargin = 2;  // pixels left of an entry's text, and above and below it

// Entry `line`'s text as the list holds it (the port name), or empty.
std::wstring EntryText(HWND combo, UINT line) {
    const LRESULT length = ::SendMessageW(combo, CB_GETLBTEXTLEN, line, 0);
    if (length == CB_ERR || length < 0) {
        return std::wstring();
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied =
        ::SendMessageW(combo, CB_GETLBTEXT, line, reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied == CB_ERR || copied < 0 ? 0 : static_cast<std::size_t>(copied));
    return text;
}

// The open list's text of entry `line` (its item data is the entry's index).
std::wstring OpenText(HWND combo, UINT line, const std::vector<std::string>& descriptions) {
    const std::wstring name = EntryText(combo, line);
    const LRESULT entry = ::SendMessageW(combo, CB_GETITEMDATA, line, 0);
    if (entry == CB_ERR || entry < 0 || static_cast<std::size_t>(entry) >= descriptions.size()) {
        return name;
    }
    return Utf16FromUtf8(
        OpenPortListText(Utf8FromUtf16(name), descriptions[static_cast<std::size_t>(entry)]));
}

}  // namespace

void Win32PortListBox::SetDescriptions(HWND combo, std::vector<std::string> descriptions) {
    m_descriptions = std::move(descriptions);
    HDC dc = ::GetDC(combo);
    if (dc == nullptr) {
        return;
    }
    const HGDIOBJ previous =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(combo, WM_GETFONT, 0, 0)));
    LONG widest = 0;
    const LRESULT count = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT line = 0; line < count; ++line) {
        const std::wstring text = OpenText(combo, static_cast<UINT>(line), m_descriptions);
        SIZE size{};
        if (::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size)) {
            widest = std::max(widest, size.cx);
        }
    }
    ::SelectObject(dc, previous);
    ::ReleaseDC(combo, dc);
    // Never narrower than the closed list; room for the margins and a scroll bar.
    const LONG width = widest + 4 * kTextMargin + ::GetSystemMetrics(SM_CXVSCROLL) +
                       2 * ::GetSystemMetrics(SM_CXEDGE);
    ::SendMessageW(combo, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(width), 0);
}

void Win32PortListBox::Measure(HWND dialog, MEASUREITEMSTRUCT& item) {
    HDC dc = ::GetDC(dialog);
    if (dc == nullptr) {
        return;
    }
    const HGDIOBJ previous =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    if (::GetTextMetricsW(dc, &metrics)) {
        item.itemHeight = static_cast<UINT>(metrics.tmHeight + 2 * kTextMargin);
    }
    ::SelectObject(dc, previous);
    ::ReleaseDC(dialog, dc);
}

void Win32PortListBox::Draw(const DRAWITEMSTRUCT& item) const {
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    ::FillRect(item.hDC, &item.rcItem,
               ::GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    if (item.itemID != static_cast<UINT>(-1)) {
        const std::wstring text = (item.itemState & ODS_COMBOBOXEDIT) != 0
                                      ? EntryText(item.hwndItem, item.itemID)
                                      : OpenText(item.hwndItem, item.itemID, m_descriptions);
        const COLORREF textColor = ::SetTextColor(
            item.hDC, ::GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        const int mode = ::SetBkMode(item.hDC, TRANSPARENT);
        RECT area = item.rcItem;
        area.left += kTextMargin;
        // The closed list shows the end of a long name, as the Qt window does.
        ::DrawTextW(
            item.hDC, text.c_str(), static_cast<int>(text.size()), &area,
            DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX |
                ((item.itemState & ODS_COMBOBOXEDIT) != 0 ? DT_PATH_ELLIPSIS : DT_END_ELLIPSIS));
        ::SetBkMode(item.hDC, mode);
        ::SetTextColor(item.hDC, textColor);
    }
    if ((item.itemState & ODS_FOCUS) != 0 && (item.itemState & ODS_NOFOCUSRECT) == 0) {
        ::DrawFocusRect(item.hDC, &item.rcItem);
    }
}

}  // namespace quillon
