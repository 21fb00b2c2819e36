#pragma once

#include <cstdint>
#include <string>

#include "link/job_events.h"

namespace quillon {

// One event of a running job as a value (JobEvents' calls, one kind each), so that a window
// can carry it from the job's thread to its own and hand it to MainWindowController there.
struct JobEvent {
    enum class Kind { kLine, kAppend, kProgress, kReaderMessage, kDebug, kDone };

    Kind kind = Kind::kLine;
    std::string text;  // the line, the appended text, the reader's text, the debug text
    std::string file;  // kReaderMessage: the file the reader's text is about
    ProgressPhase phase = ProgressPhase::kMonitorUpload;  // kProgress
    std::uint32_t done = 0;                               // kProgress
    std::uint32_t total = 0;                              // kProgress
    JobResult result;                                     // kDone
};

}  // namespace quillon
