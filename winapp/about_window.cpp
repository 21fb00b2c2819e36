#include "winapp/about_window.h"

#include <cstdio>
#include <optional>

#include "platform/executable_path.h"
#include "platform/utf16_text.h"
#include "platform/version_resource_win32.h"
#include "res/window_ids.h"
#include "winapp/download_app.h"
#include "winapp/help_key_hook.h"

namespace quillon {

namespace {

void SetItemText(HWND window, int id, const std::string& text) {
    ::SetDlgItemTextW(window, id, Utf16FromUtf8(text).c_str());
}

}  // namespace

INT_PTR Win32AboutWindow::DoModal(HWND owner) {
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUTBOX), owner,
                             DialogProc, reinterpret_cast<LPARAM>(this));
}

Result<Win32AboutWindow::Lines> Win32AboutWindow::ReadLines(const std::string& programPath) {
    Win32VersionResource resource;
    std::optional<std::uint32_t> translation;
    if (!programPath.empty() && resource.Read(programPath)) {
        translation = resource.FirstTranslation();
    }
    if (!translation) {
        return Fail(ErrorKind::kNotFound,
                    programPath + " has no version resource with a translation");
    }
    Lines lines;
    char block[64];
    std::snprintf(block, sizeof(block), "\\StringFileInfo\\%08lx\\",
                  static_cast<unsigned long>(*translation));
    lines.version = "Quillon Version " + resource.FindString(std::string(block) + "ProductVersion");
    lines.copyright = resource.FindString(std::string(block) + "LegalCopyright");
    lines.trademarks = resource.FindString(std::string(block) + "LegalTrademarks");
    return lines;
}

void Win32AboutWindow::OnInitDialog(HWND window) {
    HelpKeyHook::Register(window, [](HWND owner) {
        if (Win32DownloadApp* app = GetDownloadApp()) {
            app->OpenHelp(owner);
        }
    });
    // Without a resource the template's texts stay.
    if (const Result<Lines> lines = ReadLines(ExecutablePath())) {
        SetItemText(window, IDC_VERSION_LINE, lines->version);
        SetItemText(window, IDC_COPYRIGHT_LINE, lines->copyright);
        SetItemText(window, IDC_TRADEMARK_LINE, lines->trademarks);
    }
}

INT_PTR CALLBACK Win32AboutWindow::DialogProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            reinterpret_cast<Win32AboutWindow*>(lParam)->OnInitDialog(window);
            return TRUE;  // the focus on the first tab stop, OK
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                ::EndDialog(window, LOWORD(wParam));
                return TRUE;
            }
            break;
        case WM_DESTROY:
            HelpKeyHook::Unregister(window);
            break;
        default:
            break;
    }
    return FALSE;
}

}  // namespace quillon
