#pragma once

#include <cstdint>
#include <string>

#include "link/job_events.h"

namespace quillon {

// What a station's program tells the production run about its board, one event per line on
// its standard output: the log as the window shows it (a new line, or text appended to the
// last one), the file reader's messages, debug text, the progress, the flashed image's digest, the
// start of Start Download, a record line it could not write itself, that its job still goes
// on, and at the end the board's result.
enum class StationEventKind : char {
    kLine = 'L',
    kAppend = 'A',
    kMessage = 'M',
    kDebug = 'D',
    kProgress = 'P',
    kFlashedDigest = 'F',    // text: the SHA-256 of the image as it is to be programmed
    kDownloadStart = 'S',    // Start Download begins (Initialize ended well)
    kUnwrittenRecord = 'W',  // text: the record line (without line end) for the run to write
    kAlive = 'K',            // the job still goes on (at most once a second while it runs)
    kResult = 'R',
};

struct StationEvent {
    StationEventKind kind = StationEventKind::kLine;
    std::string text;  // the line, appended text, message, digest, record line or failing line
    ProgressPhase phase = ProgressPhase::kMonitorUpload;
    std::uint32_t done = 0;
    std::uint32_t total = 0;
    int status = 0;  // the result's status: 0 ok, 1 failed, 130 aborted
};

// The event as one line with its line end; line breaks and backslashes in the text escaped.
std::string EncodeStationEvent(const StationEvent& event);

// The event of one line (without its line end). False for a line that is no event (for
// example a message the program wrote to stderr, which shares the pipe).
[[nodiscard]] bool DecodeStationEvent(const std::string& line, StationEvent& event);

}  // namespace quillon
