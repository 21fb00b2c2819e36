#pragma once

#include <windows.h>

#include "window/options_dialog.h"

namespace quillon {

// The Options dialog (template 103) as a Win32 modal dialog: the line options of
// OptionsDialog, which checks them and writes them to the store on OK; a field it does not
// take keeps the dialog open with a box saying why.
class Win32OptionsWindow {
public:
    // `settings` and `store` must outlive the dialog.
    Win32OptionsWindow(WindowSettings& settings, SettingsStore& store)
        : m_dialog(settings), m_settings(settings), m_store(store) {}

    // Runs it over `owner`: IDOK once the values are taken, IDCANCEL, -1 when it could not
    // be made.
    INT_PTR DoModal(HWND owner);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog(HWND window);
    void OnOk(HWND window);

    OptionsDialog m_dialog;
    WindowSettings& m_settings;
    SettingsStore& m_store;
};

}  // namespace quillon
