#pragma once

#include <algorithm>
#include <string_view>

// Registry names and values compare without regard to letter case; only ASCII letters fold,
// whatever the locale.
inline bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    const auto upper = [](char c) {
        return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return upper(x) == upper(y); });
}
