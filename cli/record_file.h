#pragma once

#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

// The production record file: opened once for appending before any target is touched, then
// one whole line per board. Each line goes out in one write call on a file opened for
// appending, so lines of several programs writing the same file never mix, and is flushed to
// the disk before the program goes on, so a crash or a power cut loses no finished board.
class RecordFile {
public:
    RecordFile() = default;
    ~RecordFile();
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // Opens (creating it if need be) the regular file at `path` (UTF-8). False, with the
    // reason in `error`, when it cannot be opened or is no regular file (a folder, a pipe, a
    // device).
    bool Open(const std::string& path, std::string& error);
    // Appends `line` (one whole line with its line end) and waits until it is on the disk.
    // False, with the reason in `error`, when it was not written whole or not flushed.
    bool Append(const std::string& line, std::string& error);

private:
#ifdef _WIN32
    HANDLE m_file = INVALID_HANDLE_VALUE;
#else
    int m_file = -1;
#endif
};
