#pragma once

#include <cstddef>
#include <string>

namespace quillon {

// Why a file could not be read whole.
enum class FileReadError {
    kNone,
    kMissing,     // nothing has that name
    kNotRegular,  // a folder, a FIFO, a device, a socket: nothing a program may read as a file
    kTooLarge,    // more bytes than the bound the caller set
    kUnreadable,  // the system refused to open or read it
};

// A file read whole, or why it was not.
struct FileReadResult {
    std::string content;
    FileReadError error = FileReadError::kNone;
    std::string reason;  // what stands in the way ("is not a regular file"), without the name
    bool ok() const { return error == FileReadError::kNone; }
};

// Reads the regular file at `path` (UTF-8), symbolic links followed, when it holds at most
// `limit` bytes. The open never blocks (a FIFO would wait for a writer), only a regular file
// is taken (a device such as /dev/zero never ends), and never more than `limit` + 1 bytes are
// read, however large the file claims or grows to be.
[[nodiscard]] FileReadResult ReadRegularFile(const std::string& path, std::size_t limit);

// A byte count as a person reads a bound: "1 MiB", "64 KiB", "100 bytes".
std::string ByteCountText(std::size_t bytes);

}  // namespace quillon
