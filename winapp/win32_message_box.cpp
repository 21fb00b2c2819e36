#include "winapp/win32_message_box.h"

#include "platform/utf16_text.h"

namespace quillon {

void ShowMessageBox(HWND owner, const WindowMessage& message) {
    UINT style =
        MB_OK | (message.icon == MessageIcon::kWarning ? MB_ICONEXCLAMATION : MB_ICONINFORMATION);
    if (owner == nullptr) {
        style |= MB_TASKMODAL | MB_SETFOREGROUND;
    }
    ::MessageBoxW(owner, Utf16FromUtf8(message.text).c_str(), L"Quillon", style);
}

}  // namespace quillon
