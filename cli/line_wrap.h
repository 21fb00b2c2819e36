#pragma once

#include <cstddef>
#include <string>

namespace quillon {

// `line` (one line, UTF-8, nothing in it that steers the terminal) broken into rows of at most
// `columns` characters for a terminal, at spaces: each row after the first starts with
// `indent` spaces, and the spaces where a row ends are left out. A word longer than a row is
// cut where the row ends. Rows are joined with "\n"; no line end after the last.
std::string WrapAtWords(const std::string& line, std::size_t columns, std::size_t indent);

}  // namespace quillon
