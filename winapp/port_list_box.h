#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace quillon {

// The drop-down list of serial ports, drawn by the window (the template gives it
// CBS_OWNERDRAWFIXED | CBS_HASSTRINGS, so its entries stay texts that other programs read):
// the closed list shows the selected port's name, the open list each name with its description
// beside it (OpenPortListText), as wide as the widest of them needs.
class Win32PortListBox {
public:
    // The combo box `combo`, whose entries are the port names; `descriptions` in their order.
    void SetDescriptions(HWND combo, std::vector<std::string> descriptions);

    // The height of an entry and of the closed list's field, for WM_MEASUREITEM: the text
    // height of `dialog`'s font with a margin. Sent before the dialog has its window object,
    // so it takes the dialog alone.
    static void Measure(HWND dialog, MEASUREITEMSTRUCT& item);
    // Draws an entry or the closed list's field (WM_DRAWITEM).
    void Draw(const DRAWITEMSTRUCT& item) const;

private:
    std::vector<std::string> m_descriptions;
};

}  // namespace quillon
