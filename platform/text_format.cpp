#include "platform/text_format.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

std::string FormatText(const char* format, ...) {
    char small[256];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    std::string result;
    if (length < 0) {
        va_end(again);
        return result;
    }
    if (static_cast<size_t>(length) < sizeof small) {
        result.assign(small, static_cast<size_t>(length));
    } else {
        std::vector<char> large(static_cast<size_t>(length) + 1);
        std::vsnprintf(large.data(), large.size(), format, again);
        result.assign(large.data(), static_cast<size_t>(length));
    }
    va_end(again);
    return result;
}

namespace {

// Code points of 0x80..0x9F in Windows-1252; 0 marks the five bytes it leaves undefined.
constexpr char16_t kHighControlBlock[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::string Cp1252ToUtf8(std::uint8_t byte) {
    std::string out;
    if (byte == 0) {
        return out;
    }
    char32_t cp = byte;
    if (byte >= 0x80 && byte <= 0x9F) {
        cp = kHighControlBlock[byte - 0x80];
        if (cp == 0) {
            cp = 0xFFFD;
        }
    }
    AppendUtf8(out, cp);
    return out;
}
