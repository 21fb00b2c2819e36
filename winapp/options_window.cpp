#include "winapp/options_window.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/utf16_text.h"
#include "res/window_ids.h"
#include "winapp/win32_message_box.h"

namespace quillon {

INT_PTR Win32OptionsWindow::DoModal(HWND owner) {
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_OPTIONS), owner,
                             DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK Win32OptionsWindow::DialogProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<Win32OptionsWindow*>(lParam)->OnInitDialog(window);
        return TRUE;
    }
    auto* self = reinterpret_cast<Win32OptionsWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr || message != WM_COMMAND) {
        return FALSE;
    }
    switch (LOWORD(wParam)) {
        case IDOK:
            self->OnOk(window);
            return TRUE;
        case IDCANCEL:
            ::EndDialog(window, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

void Win32OptionsWindow::OnInitDialog(HWND window) {
    ::SetWindowTextW(window, Utf16FromUtf8(OptionsDialog::kTitle).c_str());
    const std::pair<int, std::string> texts[] = {
        {IDC_ECHO_WINDOW_LABEL, OptionsDialog::kEchoWindowLabel},
        {IDC_ECHO_WINDOW_NOTE, OptionsDialog::kEchoWindowNote},
        {IDC_ECHO_WINDOW, m_dialog.EchoWindowText()},
        {IDC_ADDED_BAUD_RATES_LABEL, OptionsDialog::kAddedBaudRatesLabel},
        {IDC_ADDED_BAUD_RATES_NOTE, OptionsDialog::kAddedBaudRatesNote},
        {IDC_ADDED_BAUD_RATES, m_dialog.AddedBaudRatesText()},
    };
    for (const auto& [id, text] : texts) {
        ::SetDlgItemTextW(window, id, Utf16FromUtf8(text).c_str());
    }
}

namespace {

// The text of the dialog's control `id` (UTF-8).
std::string ControlText(HWND window, int id) {
    const HWND edit = ::GetDlgItem(window, id);
    std::vector<wchar_t> text(static_cast<std::size_t>(::GetWindowTextLengthW(edit)) + 1);
    const int length = ::GetWindowTextW(edit, text.data(), static_cast<int>(text.size()));
    return Utf8FromUtf16(text.data(), static_cast<std::size_t>(std::max(length, 0)));
}

}  // namespace

void Win32OptionsWindow::OnOk(HWND window) {
    const Status accepted =
        m_dialog.Accept(ControlText(window, IDC_ECHO_WINDOW),
                        ControlText(window, IDC_ADDED_BAUD_RATES), m_settings, m_store);
    if (!accepted) {
        ShowMessageBox(window, {accepted.error().text, MessageIcon::kWarning});
        const HWND edit =
            ::GetDlgItem(window, m_dialog.refusedField() == OptionsDialog::Field::kAddedBaudRates
                                     ? IDC_ADDED_BAUD_RATES
                                     : IDC_ECHO_WINDOW);
        ::SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
        ::SendMessageW(edit, EM_SETSEL, 0, -1);
        return;
    }
    ::EndDialog(window, IDOK);
}

}  // namespace quillon
