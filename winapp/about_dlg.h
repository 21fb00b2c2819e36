#pragma once

#include <windows.h>

#include <string>

namespace quillon {

// The about box (template 100): the icon, the product line "Quillon Version <ProductVersion>",
// LegalCopyright and LegalTrademarks from the first translation of the running program's
// version resource. A program without a version resource, or with one without a translation,
// shows the template's texts. F1 opens the help as in the main window.
class CAboutDlg {
public:
    CAboutDlg() = default;
    CAboutDlg(const CAboutDlg&) = delete;
    CAboutDlg& operator=(const CAboutDlg&) = delete;

    // Runs the box modally over `owner`; returns its result (IDOK, IDCANCEL, -1 on failure).
    INT_PTR DoModal(HWND owner);

    // The three lines from the version resource of `programPath` (UTF-8); false (and the
    // lines untouched) without a resource or a translation.
    struct Lines {
        std::string version;
        std::string copyright;
        std::string trademarks;
    };
    static bool ReadLines(const std::string& programPath, Lines& lines);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog(HWND window);
};

}  // namespace quillon
