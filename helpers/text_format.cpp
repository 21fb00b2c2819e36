#include "helpers/text_format.h"

#include <cctype>
#include <charconv>

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace quillon {

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

std::size_t Utf8SequenceLength(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char c = byte(i + k);
        if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) {
            return 0;
        }
    }
    return length;
}

std::string EscapeForTerminal(const std::string& text, bool keepLineBreaks) {
    std::string shown;
    shown.reserve(text.size());
    const auto escape = [&shown](unsigned char c) {
        static const char kDigits[] = "0123456789ABCDEF";
        shown += "\\x";
        shown += kDigits[c >> 4];
        shown += kDigits[c & 0x0F];
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = Utf8SequenceLength(text, i);
        const bool c1Control =
            length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (length == 0 || c1Control) {
            // Each byte on its own, the C1 control's both.
            for (std::size_t k = 0; k < (c1Control ? 2u : 1u); ++k) {
                escape(static_cast<unsigned char>(text[i + k]));
            }
            i += c1Control ? 2 : 1;
        } else if (length == 1 && (c < 0x20 || c == 0x7F) && !(keepLineBreaks && c == '\n')) {
            escape(c);
            ++i;
        } else {
            shown.append(text, i, length);
            i += length;
        }
    }
    return shown;
}

std::size_t Utf8Columns(const std::string& text) {
    std::size_t columns = 0;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++columns;
        }
    }
    return columns;
}

std::string TrimmedWhiteSpace(const std::string& text) {
    const auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    };
    std::size_t first = 0;
    std::size_t end = text.size();
    while (first < end && isSpace(text[first])) {
        ++first;
    }
    while (end > first && isSpace(text[end - 1])) {
        --end;
    }
    return text.substr(first, end - first);
}

namespace {

// The whole of `text` in `base` (digits only: the library's reader also takes no sign but a
// minus, which the first character's check keeps out), within the bounds.
std::optional<std::int64_t> NumberInRange(const std::string& text, int base, std::int64_t lowest,
                                          std::int64_t highest) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    if (text.empty() || text[0] == '-' ||
        std::from_chars(text.data(), end, value, base).ptr != end || value < lowest ||
        value > highest) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<std::int64_t> DecimalInRange(const std::string& text, std::int64_t lowest,
                                           std::int64_t highest) {
    return NumberInRange(text, 10, lowest, highest);
}

std::optional<std::int64_t> HexadecimalInRange(const std::string& text, std::int64_t lowest,
                                               std::int64_t highest) {
    return NumberInRange(text, 16, lowest, highest);
}

}  // namespace quillon
