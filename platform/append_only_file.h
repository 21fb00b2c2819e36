#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "helpers/result.h"
#include "platform/clock.h"

namespace quillon {

// The production record file: opened once for appending before any target is touched, then
// one whole line per board. A line lands whole or not at all: appends of every quillon-cli
// program take the file's lock in turn, and a write that stops short (a full disk, a file size
// limit) is cut back to where the line began, so no fragment is left for the next line to be
// glued to; the cut never reaches back past the line's own start. An append that cannot take
// the lock (a file system without locks) writes nothing. A fragment that something else left
// (a crash, another program) gets a line end before the next line. Each line is flushed to the disk
// before the program goes on, so a crash or a power cut loses no finished board.
class AppendOnlyFile {
public:
    // Waits for the lock timed by the system's monotonic clock.
    AppendOnlyFile();
    // Waits for the lock timed by `clock` (which must outlive it).
    explicit AppendOnlyFile(Clock& clock);
    ~AppendOnlyFile();
    AppendOnlyFile(const AppendOnlyFile&) = delete;
    AppendOnlyFile& operator=(const AppendOnlyFile&) = delete;

    // Opens (creating it if need be) the regular file at `path` (UTF-8). An error saying why
    // when it cannot be opened or is no regular file (a folder, a pipe, a device).
    [[nodiscard]] Status Open(const std::string& path);
    bool IsOpen() const;
    // Appends `line` (one whole line with its line end) and waits until it is on the disk.
    // An error saying why when it was not written whole or not flushed; then the file is as it
    // was before.
    [[nodiscard]] Status Append(const std::string& line);
    // The file's size now (-1 when it cannot be told).
    std::int64_t Size() const;
    using LineVisitor = std::function<void(const std::string& line)>;
    // Hands `onLine` each whole line that begins at `offset` or later, in order, without its
    // line end (a last line without its end left out). The file is read piece by piece and a
    // line longer than kLongestScannedLine is passed over: no file, however much others append
    // to it, can fill the memory. Nothing when the file cannot be read.
    void ScanLinesFrom(std::int64_t offset, const LineVisitor& onLine) const;

    // Far more than any record line.
    static constexpr std::size_t kLongestScannedLine = 1024 * 1024;

private:
    // How long an append waits for another program's append to finish. Appends take
    // milliseconds; a lock held longer than this belongs to something that is not appending.
    static constexpr auto kLockPatience = std::chrono::seconds(10);
    static constexpr const char* kLockedText = "the file stays locked by another program";

    // Writes `text` where the file ends, at `before`, and flushes it; a part written is cut
    // back again unless the file has grown behind it (the Windows backend's whole append).
    [[nodiscard]] Status WriteAtEnd(const std::string& text, std::int64_t before);

    // Cuts the bytes read into whole lines for a LineVisitor, passing over those too long.
    class LineScan {
    public:
        explicit LineScan(const LineVisitor& onLine) : m_onLine(onLine) {}
        void Feed(const char* bytes, std::size_t count);

    private:
        const LineVisitor& m_onLine;
        std::string m_line;
        bool m_tooLong = false;  // the line being read has passed the bound
    };

    // The system's handle of the open file.
    struct Impl;

    Clock& m_clock;
    std::unique_ptr<Impl> m_impl;
    bool m_readable = false;  // opened for reading too (the fragment check needs it)
};

}  // namespace quillon
