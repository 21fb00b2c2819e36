#include "window/job_status_line.h"

#include <algorithm>

namespace quillon {

std::string RunningJobStatus(WindowJobState running, bool abortRequested) {
    if (abortRequested) {
        return "Stopping…";
    }
    return running == WindowJobState::kDownloading ? "Downloading…" : "Initializing…";
}

std::string EndedJobStatus(WindowJobState ended, const JobResult& result) {
    if (result.aborted()) {
        return "Aborted";
    }
    if (result.succeeded()) {
        return ended == WindowJobState::kDownloading ? "Download OK" : "Ready for Start Download";
    }
    if (result.text.empty()) {
        return "FAILED";  // a failure that gave no line still reads as one
    }
    // One line: a failing line of two ("Invalid monitor file!" and why) joined by a space.
    std::string line = result.text;
    std::replace(line.begin(), line.end(), '\n', ' ');
    return "FAILED: " + line;
}

}  // namespace quillon
