#include "cli/cli_runner.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "link/job_runner.h"
#include "platform/latency_timer.h"
#include "platform/serial_device.h"

namespace quillon {

namespace {

// How often a job in work looks whether the program was asked to stop: the signal handlers
// can only set a flag.
constexpr auto kStopPollInterval = std::chrono::milliseconds(20);

// The events of one job, shown on the console as they come; the done event wakes the waiter.
class ConsoleEvents : public JobEventSink {
public:
    explicit ConsoleEvents(CliConsole& console) : m_console(console) {}

    void OnJobEvent(const JobEvent& event) override {
        if (event.kind != JobEvent::Kind::kDone) {
            m_console.OnJobEvent(event);
            return;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_result = event.result;
        m_done.notify_all();
    }

    // Waits for the done event, passing the program's stop request on to `runner`.
    JobResult Wait(JobRunner& runner, const AbortRequested& abortRequested) {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_result) {
            if (abortRequested()) {
                runner.RequestStop();
            }
            m_done.wait_for(lock, kStopPollInterval);
        }
        return *m_result;
    }

private:
    CliConsole& m_console;
    std::mutex m_mutex;
    std::condition_variable m_done;
    std::optional<JobResult> m_result;
};

// The jobs' clock. A job reads its clock at every step and in every wait, and no wait of it is
// longer than its longest time-out: each read a second or more after the last tells the
// production run (in a station's program) that the job still goes on. A job stuck in the
// system (a wedged driver) reads it no more and falls silent, as a stopped program does.
class ReportingClock : public Clock {
public:
    explicit ReportingClock(CliConsole& console) : m_console(console) {}

    std::uint64_t NowMs() override {
        const std::uint64_t now = m_clock.NowMs();
        if (now - m_reportedMs.load() >= kAliveIntervalMs) {
            m_reportedMs = now;
            m_console.OnJobEvent(JobEvent::Alive());
        }
        return now;
    }
    std::uint64_t NowUs() override { return m_clock.NowUs(); }
    void SleepUntilMs(std::uint64_t ms) override { m_clock.SleepUntilMs(ms); }

private:
    static constexpr std::uint64_t kAliveIntervalMs = 1000;
    CliConsole& m_console;
    SteadyClock m_clock;
    std::atomic<std::uint64_t> m_reportedMs{0};
};

struct JobRun {
    JobResult result;
    double seconds = 0;
};

JobRun RunJob(JobRunner& runner, JobRequest request, CliConsole& console,
              const AbortRequested& abortRequested) {
    const auto start = std::chrono::steady_clock::now();
    const std::string port = request.line.port;
    ConsoleEvents events(console);
    runner.Start(std::move(request), events);
    JobRun run{events.Wait(runner, abortRequested), 0.0};
    runner.Wait();
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (run.result.aborted()) {
        console.OnJobEvent(JobEvent::Line(kAbortedLine));
    }
    if (!run.result.detail.empty()) {
        console.Message("quillon-cli: " + run.result.detail);
    }
    if (run.result.reason == FailureReason::kPortUnavailable) {
        if (const std::string hint = SerialPortPermissionHint(port); !hint.empty()) {
            console.Message("quillon-cli: " + hint);
        }
    }
    return run;
}

}  // namespace

BoardJobs RunJobs(const CliOptions& options, const std::string& monitorFile,
                  std::shared_ptr<const HexImage> image, CliConsole& console,
                  const AbortRequested& abortRequested) {
    ReportingClock clock(console);
    JobRunner runner(clock);
    JobRequest request;
    request.line = {options.port, options.baud};
    request.job = InitializeRequest{monitorFile, options.echoWindow};

    // A stop asked for before the job starts ends it at its first poll point.
    const JobRun init = RunJob(runner, request, console, abortRequested);
    BoardJobs jobs{init.result, init.seconds};
    if (jobs.result.succeeded() && !options.initOnly) {
        if (abortRequested()) {
            // Asked to stop between the jobs: the download never starts.
            console.OnJobEvent(JobEvent::Line(kAbortedLine));
            jobs.result = {JobOutcome::kAborted, FailureReason::kAborted, kAbortedLine};
        } else {
            console.OnJobEvent(JobEvent::DownloadStart());
            request.job = DownloadRequest{std::move(image), options.image, options.eraseAll};
            const JobRun download = RunJob(runner, request, console, abortRequested);
            jobs.result = download.result;
            jobs.downloadSeconds = download.seconds;
            // The run's one download on this port: said once, after it.
            if (const auto& timing = download.result.downloadTiming;
                timing && timing->ShowsLatencyTimer()) {
                console.Message("quillon-cli: " +
                                LatencyTimerAdvice(options.port, timing->answerDelayUs));
            }
        }
    }
    console.Finish();
    return jobs;
}

}  // namespace quillon
