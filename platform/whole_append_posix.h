#pragma once

#include <string>

#include "helpers/result.h"

namespace quillon {

// POSIX systems only: appends `text` to the file `fd` (opened with O_APPEND, and locked against
// every other append of ours) in one write and waits until it is on the disk. A write that
// stops short or a flush that fails cuts the file back to where this write began, so that no
// fragment is left for the next append to be glued to, and the error says why. It never cuts
// further back, and not at all once something else has been appended behind it (a program that
// does not take the lock): another program's line is never cut away. Shrinking a file is
// allowed even beyond a file size limit and on a full disk.
[[nodiscard]] Status AppendWholeOrCutBack(int fd, const std::string& text);

// POSIX systems only: flushes the folder that holds `path` to the disk, so that a file just
// created or renamed there is found after a power cut too. A file system that cannot flush a
// folder has nothing more to offer: that is no error.
[[nodiscard]] Status FlushFolderOf(const std::string& path);

}  // namespace quillon
