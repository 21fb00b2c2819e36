#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace quillon {

// One board of a production run as one line of the record file (JSON Lines): what was
// written into which target, with which image, and how it ended.
struct BoardRecord {
    std::chrono::system_clock::time_point time;  // when the board was done
    std::string host;
    std::string port;
    int board = 1;       // 1 for a single run
    std::string target;  // display name
    std::string monitorFile;
    std::optional<std::string> image;        // none with --init-only
    std::optional<std::string> imageSha256;  // of the image file's bytes
    // Of the image as programmed (the board's serial number included); none when no image
    // was read, or the board failed before its image was made.
    std::optional<std::string> flashedSha256;
    std::optional<std::string> serialNumber;  // as its format writes it; none without numbers
    std::optional<std::string> serialAt;      // "0x1FF00"
    bool eraseAll = false;
    std::string result;   // "ok", "failed" or "aborted"
    std::string failure;  // the failing log line; empty (null in the line) when ok
    double initSeconds = 0;
    double downloadSeconds = 0;
    // The median of the download's answer delays, and the image bytes programmed per second;
    // none (null) when no block of the download was answered.
    std::optional<std::uint64_t> answerDelayUs;
    std::optional<std::uint64_t> downloadBytesPerSecond;

    // The JSON object on one line, with its line end.
    std::string Line() const;
};

// What a record line says of how its board ended.
struct RecordedBoard {
    std::string result;   // "ok", "failed" or "aborted"
    std::string failure;  // empty when null
    std::string line;     // the line itself, when its reader keeps it
};

// When `line` is the record line of board `board` at `port` on `host`: how it ended.
[[nodiscard]] std::optional<RecordedBoard> ReadRecordLine(const std::string& line,
                                                          const std::string& host,
                                                          const std::string& port, int board);

// `text` as a JSON string with its quotes: quotes, backslashes and control characters escaped,
// UTF-8 passed through, each byte that is no part of valid UTF-8 replaced by U+FFFD, so the
// line stays valid JSON whatever a path or log line holds.
std::string JsonString(const std::string& text);

// `time` in UTC as ISO 8601 to the second, e.g. "2026-12-09T11:40:02Z".
std::string UtcTimestamp(std::chrono::system_clock::time_point time);

}  // namespace quillon
