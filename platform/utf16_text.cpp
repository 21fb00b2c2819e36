#include "platform/utf16_text.h"

#include <windows.h>

#include <climits>

namespace quillon {

std::wstring Utf16FromUtf8(const std::string& text) {
    if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) {
        return std::wstring();
    }
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    if (length <= 0) {
        return std::wstring();
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
    return wide;
}

std::string Utf8FromUtf16(const wchar_t* text, std::size_t length) {
    if (text == nullptr || length == 0 || length > static_cast<std::size_t>(INT_MAX)) {
        return std::string();
    }
    const int size = static_cast<int>(length);
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return std::string();
    }
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, size, narrow.data(), bytes, nullptr, nullptr);
    return narrow;
}

std::string Utf8FromUtf16(const std::wstring& text) {
    return Utf8FromUtf16(text.data(), text.size());
}

}  // namespace quillon
