#include "cli/line_wrap.h"

#include <algorithm>

#include "helpers/text_format.h"

namespace quillon {

namespace {

// The bytes of the first `count` characters of UTF-8 `text`.
std::size_t BytesOfCharacters(const std::string& text, std::size_t count) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == count) {
            return i;
        }
    }
    return text.size();
}

}  // namespace

std::string WrapAtWords(const std::string& line, std::size_t columns, std::size_t indent) {
    columns = std::max<std::size_t>(columns, 1);
    // A continuation row keeps at least half of the row for text.
    indent = std::min(indent, columns / 2);
    std::string text;
    std::size_t rowColumns = 0;
    std::size_t at = 0;
    bool rowStarted = false;  // the row holds text (the first row counts from the start)
    while (at < line.size()) {
        const std::size_t wordStart = line.find_first_not_of(' ', at);
        const std::string spaces =
            line.substr(at, (wordStart == std::string::npos ? line.size() : wordStart) - at);
        if (wordStart == std::string::npos) {
            // Spaces at the end of the line stay where they fit (a sector line ends in one).
            if (rowColumns + spaces.size() <= columns) {
                text += spaces;
            }
            break;
        }
        std::size_t wordEnd = line.find(' ', wordStart);
        wordEnd = wordEnd == std::string::npos ? line.size() : wordEnd;
        std::string word = line.substr(wordStart, wordEnd - wordStart);
        const std::size_t wordColumns = Utf8Columns(word);
        // A word that no row could hold begins where it is.
        const bool fitsNoRow =
            indent + wordColumns > columns && rowColumns + spaces.size() < columns;
        if (rowColumns + spaces.size() + wordColumns <= columns || !rowStarted || fitsNoRow) {
            if (rowColumns + spaces.size() < columns) {
                text += spaces;
                rowColumns += spaces.size();
            }
        } else {
            text += '\n';
            text.append(indent, ' ');
            rowColumns = indent;
        }
        // A word longer than the rest of its row goes on in the next ones.
        while (rowColumns + Utf8Columns(word) > columns) {
            const std::size_t cut = BytesOfCharacters(word, columns - rowColumns);
            text.append(word, 0, cut);
            text += '\n';
            text.append(indent, ' ');
            word.erase(0, cut);
            rowColumns = indent;
        }
        text += word;
        rowColumns += Utf8Columns(word);
        rowStarted = true;
        at = wordEnd;
    }
    return text;
}

}  // namespace quillon
