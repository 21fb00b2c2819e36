#pragma once

#include <memory>
#include <thread>

#include "link/job_events.h"
#include "link/job_request.h"
#include "link/job_session.h"
#include "platform/clock.h"
#include "platform/system_env.h"

namespace quillon {

// Runs the jobs of one owner (a window, the command line) on a thread of its own, one job at
// a time, so that the owner stays free while a job waits on the line. Start, RequestStop and
// Wait belong to the owner's thread (a job's events come from the job's thread and must not
// call them). The line a job opened
// stays open for the next job until Initialize opens one anew or the runner ends. The owner's
// stop request is the job thread's stop request; the job takes it at its poll points.
class JobRunner {
public:
    // Jobs on the ports their names lead to (local serial ports, network ports) and the
    // system's clock.
    JobRunner();
    // The same, timed by `clock` (which must outlive the runner).
    explicit JobRunner(Clock& clock);
    // Jobs on the lines `opener` opens, timed by `clock` (which must outlive the runner).
    JobRunner(ChannelOpener opener, Clock& clock);
    // Asks a job still running to stop, waits for its end and closes the line.
    ~JobRunner();
    JobRunner(const JobRunner&) = delete;
    JobRunner& operator=(const JobRunner&) = delete;

    // Starts `request`; its events go to `events` (which must outlive the job) from the job's
    // thread, the last of them exactly one done event. A job still running is waited for first.
    void Start(JobRequest request, JobEventSink& events);
    // Asks the running job to stop at its next poll point; nothing when none runs.
    void RequestStop();
    // Waits until the running job has ended.
    void Wait();

private:
    // Opens the ports that job requests name: local serial ports and network ports.
    ChannelOpener PortOpener();

    ChannelOpener m_opener;
    std::unique_ptr<SteadyClock> m_steadyClock;  // when no clock was given
    Clock& m_clock;
    SystemEnv m_env{m_clock};  // the system's devices, timed by the jobs' clock
    JobSession m_session;      // used only by the job thread while a job runs
    JobRequest m_request;
    std::jthread m_thread;
    std::stop_token m_jobStop;  // the running job's, for its opener; set and read by its thread
};

}  // namespace quillon
