#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/regular_file.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace quillon {

// A file held under an exclusive lock that every program using a LockedFile of the same path
// respects (flock on POSIX, LockFileEx on Windows), for as long as the object lives: what one
// program reads and appends meanwhile no other program changes. The lock goes with the object,
// and with the program when it dies.
class LockedFile {
public:
    enum class Outcome {
        kLocked,   // opened and locked
        kBusy,     // another program kept the lock for the whole patience
        kStopped,  // the stop request came while waiting
        kFailed,   // cannot be opened or locked at all (the reason in `error`)
    };

    LockedFile() = default;
    ~LockedFile();
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    // Opens the regular file at `path` (UTF-8), creating it if need be (then its folder is
    // flushed to the disk too), and takes the lock. While another program holds it, tries
    // again every few milliseconds until `patience` has passed or `stopRequested` says so: a
    // lock left held by a hung program can neither hold a run forever nor an abort up.
    [[nodiscard]] Outcome Open(const std::string& path, std::chrono::milliseconds patience,
                               const std::function<bool()>& stopRequested, std::string& error);

    // The whole file, when it holds at most `limit` bytes; else kTooLarge ("is larger than
    // 64 MiB") or kUnreadable ("cannot be read (...)"). No more than `limit` + 1 bytes are ever
    // taken into memory.
    [[nodiscard]] FileReadResult ReadAll(std::size_t limit) const;
    // The names the file has (hard links); 0 when that cannot be told.
    std::uint64_t LinkCount() const;
    // Appends `text` in one write and waits until it is on the disk. False, with the reason in
    // `error`, when it was not written whole or not flushed; then the file is cut back to what
    // it was.
    [[nodiscard]] bool Append(const std::string& text, std::string& error);

private:
    void Close();

#ifdef _WIN32
    HANDLE m_file = INVALID_HANDLE_VALUE;
#else
    int m_file = -1;
#endif
};

}  // namespace quillon
