#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// POSIX systems only: appends `text` to the file `fd` (opened with O_APPEND) in one write and
// waits until it is on the disk. A write that stops short or a flush that fails cuts the file
// back to `sizeBefore` (its size before the append; -1: unknown, nothing is cut) and says why in
// `error`, so that no fragment is left for the next append to be glued to. Shrinking a file is
// allowed even beyond a file size limit and on a full disk.
bool AppendWholeOrCutBack(int fd, std::int64_t sizeBefore, const std::string& text,
                          std::string& error);

// POSIX systems only: flushes the folder that holds `path` to the disk, so that a file just
// created or renamed there is found after a power cut too.
void FlushFolderOf(const std::string& path);

}  // namespace quillon
