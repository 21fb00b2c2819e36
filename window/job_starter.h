#pragma once

#include <memory>

#include "link/job_events.h"
#include "link/job_request.h"
#include "link/job_session.h"

namespace quillon {

// How the main window runs its jobs: one at a time on a thread of their own, the line a job
// opened kept for the next job. Destroying it asks a running job to stop, waits for its end
// and closes the line. MakeJobRunner gives the real one; tests put a double in its place.
class JobStarter {
public:
    virtual ~JobStarter() = default;
    // Starts `request`; its events go to `events` (which must outlive the job) from the job's
    // thread, the last of them exactly one done event.
    virtual void Start(JobRequest request, JobEventSink& events) = 0;
    // Asks the running job to stop at its next poll point; nothing when none runs.
    virtual void RequestStop() = 0;
};

// A JobRunner on the lines `opener` opens (empty: local serial ports), on the system's clock.
std::unique_ptr<JobStarter> MakeJobRunner(ChannelOpener opener = {});

}  // namespace quillon
