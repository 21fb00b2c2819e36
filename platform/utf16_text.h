#pragma once

#include <string>

namespace quillon {

// Windows only: texts are UTF-8 inside the program and UTF-16 at every wide Win32 call; this is
// the one conversion between the two. Invalid sequences become U+FFFD either way; an empty text
// stays empty.

std::wstring Utf16FromUtf8(const std::string& text);
std::string Utf8FromUtf16(const std::wstring& text);
std::string Utf8FromUtf16(const wchar_t* text, std::size_t length);

}  // namespace quillon
