#include <windows.h>

#include "platform/system_error.h"
#include "platform/utf16_text.h"

namespace quillon {

void SetSystemLastError(std::uint32_t code) {
    ::SetLastError(static_cast<DWORD>(code));
}

std::string SystemErrorText(std::uint32_t code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string message;
    if (length > 0 && text != nullptr) {
        message = Utf8FromUtf16(text, length);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                    message.back() == '.' || message.back() == ' ')) {
            message.pop_back();
        }
    }
    ::LocalFree(text);
    return message.empty() ? "error " + std::to_string(code) : message;
}

}  // namespace quillon
