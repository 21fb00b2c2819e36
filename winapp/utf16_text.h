#pragma once

#include <string>

// The window's texts are UTF-8 inside and UTF-16 at every Win32 call. Invalid sequences become
// U+FFFD either way; an empty text stays empty.

std::wstring Utf16FromUtf8(const std::string& text);
std::string Utf8FromUtf16(const std::wstring& text);
std::string Utf8FromUtf16(const wchar_t* text, std::size_t length);
