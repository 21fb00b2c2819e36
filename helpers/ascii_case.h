#pragma once

#include <cstddef>
#include <string_view>

namespace quillon {

// Comparisons that ignore letter case for ASCII letters only, whatever the locale: registry
// names, port names, file extensions, target names and the monitor header's signature all
// compare this way.

constexpr char ToLowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Negative, zero or positive as `a` sorts before, with or after `b` (bytes compared unsigned).
constexpr int CompareIgnoringCase(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(ToLowerAscii(a[i]));
        const auto cb = static_cast<unsigned char>(ToLowerAscii(b[i]));
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

constexpr bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareIgnoringCase(a, b) == 0;
}

constexpr bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualIgnoringCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace quillon
