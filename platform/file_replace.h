#pragma once

#include <string>

#include "helpers/result.h"

namespace quillon {

// Replaces the content of the file at `path` (UTF-8) so that a crash or a power cut at any
// moment leaves either the old content or the new one, and the new one is on the disk when
// this returns: writes `content` to `path`.new, flushes it, renames it over `path` and flushes
// the folder (on Windows: a rename written through). An error saying why when any step
// failed; `path` then still holds its old content, unless the rename itself was done
// and only its flush failed (the caller cannot tell which of the two a power cut leaves).
[[nodiscard]] Status ReplaceFileDurably(const std::string& path, const std::string& content);

}  // namespace quillon
