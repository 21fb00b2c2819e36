#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "helpers/result.h"

namespace quillon {

// A file read whole.
struct FileContent {
    std::string bytes;
    // The names the file has in its file system (hard links): more than one means that other
    // paths reach the same content.
    std::uint64_t linkCount = 0;
};

// A file read whole, or why it was not, in words without the file's name ("does not exist",
// "is a folder", "is not a regular file", "is larger than 64 MiB", "cannot be read (...)"):
// kNotFound when nothing has that name; kUnsupported for a folder, a FIFO, a device, a
// socket (nothing a program may read as a file); kTooLarge for more bytes than the bound the
// caller set; kIo when the system refused to open or read it.
using FileRead = Result<FileContent>;

// Reads the regular file at `path` (UTF-8), symbolic links followed, when it holds at most
// `limit` bytes. The open never blocks (a FIFO would wait for a writer), only a regular file
// is taken (a device such as /dev/zero never ends), and never more than `limit` + 1 bytes are
// read, however large the file claims or grows to be.
[[nodiscard]] FileRead ReadRegularFile(const std::string& path, std::size_t limit);

// The reasons every reader of a file gives for a file larger than `limit` ("is larger than
// 64 MiB") and for one the system cannot read, with the system's text ("cannot be read
// (Input/output error)").
Unexpected<Error> TooLargeFileRead(std::size_t limit);
Unexpected<Error> UnreadableFileRead(const std::string& systemText);

// The read both systems share: reads an open regular file to its end through `readSome`
// (fills up to `room` bytes at `into` and says how many, 0 at the end, or fails with the
// system's text), never more than `limit` + 1 bytes. `sizeHint` is the size the system gave:
// the file may grow or shrink while it is read.
[[nodiscard]] FileRead ReadWithinLimit(
    std::size_t sizeHint, std::size_t limit, std::uint64_t linkCount,
    const std::function<Result<std::size_t>(char* into, std::size_t room)>& readSome);

// A byte count as a person reads a bound: "1 MiB", "64 KiB", "100 bytes".
std::string ByteCountText(std::size_t bytes);

}  // namespace quillon
