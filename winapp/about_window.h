#pragma once

#include <windows.h>

#include <string>

#include "helpers/result.h"

namespace quillon {

// The about box (template 100): the icon, the product line "Quillon Version <ProductVersion>",
// LegalCopyright and LegalTrademarks from the first translation of the running program's
// version resource. A program without a version resource, or with one without a translation,
// shows the template's texts. F1 opens the help as in the main window.
class Win32AboutWindow {
public:
    Win32AboutWindow() = default;
    Win32AboutWindow(const Win32AboutWindow&) = delete;
    Win32AboutWindow& operator=(const Win32AboutWindow&) = delete;

    // Runs the box modally over `owner`; returns its result (IDOK, IDCANCEL, -1 on failure).
    INT_PTR DoModal(HWND owner);

    // The three lines from the version resource of `programPath` (UTF-8); an error of kind
    // kNotFound without a resource or a translation.
    struct Lines {
        std::string version;
        std::string copyright;
        std::string trademarks;
    };
    static Result<Lines> ReadLines(const std::string& programPath);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog(HWND window);
};

}  // namespace quillon
