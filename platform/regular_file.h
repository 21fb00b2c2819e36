#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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
struct [[nodiscard]] FileReadResult {
    std::string content;
    FileReadError error = FileReadError::kNone;
    std::string reason;  // what stands in the way ("is not a regular file"), without the name
    // The names the file has in its file system (hard links), once it was opened as a regular
    // file: more than one means that other paths reach the same content.
    std::uint64_t linkCount = 0;
    bool ok() const { return error == FileReadError::kNone; }
};

// Reads the regular file at `path` (UTF-8), symbolic links followed, when it holds at most
// `limit` bytes. The open never blocks (a FIFO would wait for a writer), only a regular file
// is taken (a device such as /dev/zero never ends), and never more than `limit` + 1 bytes are
// read, however large the file claims or grows to be.
[[nodiscard]] FileReadResult ReadRegularFile(const std::string& path, std::size_t limit);

// A read that failed with `error`, said by `reason`; the reasons every reader of a file gives
// for a file larger than `limit` ("is larger than 64 MiB") and for one the system cannot read,
// with the system's text ("cannot be read (Input/output error)").
FileReadResult FailedFileRead(FileReadError error, std::string reason);
FileReadResult TooLargeFileRead(std::size_t limit);
FileReadResult UnreadableFileRead(const std::string& systemText);

// The read both systems share: reads an open regular file to its end through `readSome`
// (fills up to `room` bytes at `into`, returns how many, 0 at the end; false with the
// system's text in `systemText` on a failure), never more than `limit` + 1 bytes. `sizeHint`
// is the size the system gave: the file may grow or shrink while it is read.
FileReadResult ReadWithinLimit(
    std::size_t sizeHint, std::size_t limit, std::uint64_t linkCount,
    const std::function<bool(char* into, std::size_t room, std::size_t& got,
                             std::string& systemText)>& readSome);

// A byte count as a person reads a bound: "1 MiB", "64 KiB", "100 bytes".
std::string ByteCountText(std::size_t bytes);

}  // namespace quillon
