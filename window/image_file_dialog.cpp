#include "window/image_file_dialog.h"

#include <filesystem>
#include <system_error>

#include "helpers/text_format.h"
#include "platform/utf8_path.h"

namespace quillon {

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t end = text.find(separator, begin);
        parts.push_back(text.substr(begin, end == std::string::npos ? end : end - begin));
        if (end == std::string::npos) {
            return parts;
        }
        begin = end + 1;
    }
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// "C:" alone: a drive letter and a colon.
bool IsDrive(const std::string& text) {
    return text.size() == 2 && text[1] == ':' &&
           ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'));
}

// `path` made absolute, without "." and ".." steps, with the platform's separators and without
// a trailing separator (a root keeps its own).
fs::path Absolute(const fs::path& path) {
    std::error_code error;
    fs::path absolute = fs::absolute(path, error);
    if (error) {
        absolute = path;
    }
    absolute = absolute.lexically_normal();
    absolute.make_preferred();
    if (!absolute.has_filename() && absolute.has_relative_path()) {
        absolute = absolute.parent_path();
    }
    return absolute;
}

}  // namespace

std::vector<FileFilterEntry> ParseFileFilter(const std::string& filter) {
    std::vector<FileFilterEntry> entries;
    const std::vector<std::string> parts = Split(filter, '|');
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].empty()) {
            break;  // "||" ends the list
        }
        FileFilterEntry entry;
        entry.description = parts[i];
        for (const std::string& pattern : Split(parts[i + 1], ';')) {
            if (!pattern.empty()) {
                entry.patterns.push_back(TrimmedWhiteSpace(pattern));
            }
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

BrowseStart ChooseBrowseStart(const std::string& text, const std::string& defaultPath) {
    std::string path = text.empty() ? defaultPath : text;
    if (!path.empty()) {
        if (path.size() > 1 && IsSeparator(path.back())) {
            path.pop_back();
        }
        if (IsDrive(path)) {
            path += '/';  // the drive's root, not its current folder
        }
        const fs::path candidate = PathFromUtf8(path);
        if (IsFolder(candidate)) {
            return {Utf8FromPath(Absolute(candidate)), std::string()};
        }
        if (IsFile(candidate)) {
            const fs::path file = Absolute(candidate);
            return {Utf8FromPath(file.parent_path()), Utf8FromPath(file)};
        }
    }
    if (!defaultPath.empty() && IsFolder(PathFromUtf8(defaultPath))) {
        return {Utf8FromPath(Absolute(PathFromUtf8(defaultPath))), std::string()};
    }
    return {};
}

}  // namespace quillon
