#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quillon {

// The lines of the main window's log, as the window shows them: new lines from the worker,
// text appended to the last line (the "*" marks of the programming job), and "Clear". A
// window keeps its list control equal to Lines() by applying each returned change.
class LogLines {
public:
    // How the list control changes.
    struct Change {
        std::size_t index = 0;      // the line that changed or was added
        std::string text;           // its whole text now
        bool replacesLast = false;  // true: line `index` existed and now reads `text`
    };

    // A new last line.
    Change Add(const std::string& text);
    // `text` appended to the last line; on an empty log `text` becomes its only line.
    Change AppendToLast(const std::string& text);
    void Clear() { m_lines.clear(); }

    const std::vector<std::string>& Lines() const { return m_lines; }
    // The last line, or an empty text.
    std::string Last() const;

private:
    std::vector<std::string> m_lines;
};

}  // namespace quillon
