#pragma once

#include <functional>
#include <memory>
#include <string>

#include "cli/cli_console.h"
#include "cli/cli_options.h"
#include "cli/exit_status.h"
#include "image/hex_image.h"
#include "link/job_events.h"

namespace quillon {

// How the jobs of one board went, for the record file.
struct BoardJobs {
    // The last job's result; for a board that is not ok its text says why: the file reader's
    // message when a file could not be read, else the failing job's last log line ("Aborted by
    // user!" when aborted, also between the jobs).
    JobResult result;
    double initSeconds = 0;
    double downloadSeconds = 0;  // 0 when Start Download did not run
};

// The stop request of quillon-cli (SIGINT, SIGTERM, SIGHUP; the run that started a station's
// program closing its input): true once asked.
using AbortRequested = std::function<bool()>;

// Runs Initialize with `monitorFile` and, unless options.initOnly, Start Download of `image`,
// as the window runs them, their events on `console` (with a download-start event when Start
// Download begins). `abortRequested` is asked while the jobs run (every few milliseconds) and
// before Start Download.
[[nodiscard]] BoardJobs RunJobs(const CliOptions& options, const std::string& monitorFile,
                                std::shared_ptr<const HexImage> image, CliConsole& console,
                                const AbortRequested& abortRequested);

}  // namespace quillon
