#pragma once

#include <filesystem>
#include <string>

namespace quillon {

// Paths travel through the program as UTF-8 text. std::filesystem::path converts a plain
// std::string with the system's 8-bit code page on Windows (and not always the same way back),
// so every conversion goes through these two.

inline std::filesystem::path PathFromUtf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string Utf8FromPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// Whether `path` names an existing folder / regular file; an error (no access, a name the
// system refuses) counts as no.
inline bool IsFolder(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

inline bool IsFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

}  // namespace quillon
