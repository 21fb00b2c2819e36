#pragma once

#include <string>

#include "link/job_events.h"
#include "window/download_window_state.h"

namespace quillon {

// The main window's status line: the job's state and outcome in a few words, large enough to
// read across the room and independent of the progress bar's colour. Empty until the first
// job starts; then
//
//   while Initialize runs        "Initializing…"
//   while Start Download runs    "Downloading…"
//   once button 1 asked a stop   "Stopping…" (until the job has ended)
//   after a success              "Ready for Start Download" (Initialize), "Download OK"
//   after a failure              "FAILED: " and the job's failing log line
//   after an abort               "Aborted"
//
// Decided by the job's state and result values, never by the log's text.

// The status line while a job runs in `running` (kInitializing or kDownloading).
std::string RunningJobStatus(WindowJobState running, bool abortRequested);
// The status line once the job that ran in `ended` has ended with `result`.
std::string EndedJobStatus(WindowJobState ended, const JobResult& result);

}  // namespace quillon
