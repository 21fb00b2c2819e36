#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "helpers/result.h"
#include "platform/clock.h"
#include "platform/regular_file.h"

namespace quillon {

// A file held under an exclusive lock that every program using a LockedFile of the same path
// respects (flock on POSIX, LockFileEx on Windows), for as long as the object lives: what one
// program reads and appends meanwhile no other program changes. The lock goes with the object,
// and with the program when it dies.
class LockedFile {
public:
    // Waits for the lock timed by the system's monotonic clock.
    LockedFile();
    // Waits for the lock timed by `clock` (which must outlive it).
    explicit LockedFile(Clock& clock);
    ~LockedFile();
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    // Opens the regular file at `path` (UTF-8), creating it if need be (then its folder is
    // flushed to the disk too), and takes the lock. While another program holds it, tries
    // again every few milliseconds until `patience` has passed (a kBusy error) or
    // `stopRequested` says so (kAborted): a lock left held by a hung program can neither hold a
    // run forever nor an abort up. Any other error: it cannot be opened or locked at all, and
    // its text says why.
    [[nodiscard]] Status Open(const std::string& path, std::chrono::milliseconds patience,
                              const std::function<bool()>& stopRequested);

    // The whole file, when it holds at most `limit` bytes; else kTooLarge ("is larger than
    // 64 MiB") or kIo ("cannot be read (...)"). No more than `limit` + 1 bytes are ever taken
    // into memory.
    [[nodiscard]] FileRead ReadAll(std::size_t limit) const;
    // The names the file has (hard links); 0 when that cannot be told.
    std::uint64_t LinkCount() const;
    // Appends `text` in one write and waits until it is on the disk. An error saying why when
    // it was not written whole or not flushed; then the file is cut back to what it was.
    [[nodiscard]] Status Append(const std::string& text);

private:
    // The system's handle of the open file.
    struct Impl;

    void Close();

    Clock& m_clock;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace quillon
