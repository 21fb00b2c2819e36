#include "platform/append_only_file.h"

#include <string>

namespace quillon {

std::string AppendOnlyFile::ShortWrite(std::size_t written, std::size_t size) {
    return "only " + std::to_string(written) + " of " + std::to_string(size) + " bytes written";
}

std::vector<std::string> AppendOnlyFile::WholeLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
        lines.push_back(text.substr(begin, end - begin));
    }
    return lines;
}

}  // namespace quillon
