#pragma once

#include "image/monitor_file.h"
#include "link/job.h"
#include "link/job_session.h"

namespace quillon {

// The Initialize job: opens the port, reads the monitor file, runs the bootstrap handshake,
// sends loader Level 0 and Level 1, reads the RAM test report and uploads the monitor with a
// byte echo until the monitor reports that it runs. Ends with exactly one done event.
class InitializeJob : public Job {
public:
    InitializeJob(const InitializeRequest& request, const LineSettings& lineSettings,
                  JobSession& session, const ChannelOpener& opener, Clock& clock,
                  std::stop_token stop, JobEventSink& events, const Timeouts& timeouts)
        : Job(clock, std::move(stop), events, timeouts),
          m_request(request),
          m_lineSettings(lineSettings),
          m_session(session),
          m_opener(opener) {}

    void Run();

private:
    struct EchoUpload;

    // The steps; each returns false when the job has ended (its done event is out).
    [[nodiscard]] bool OpenPort();
    // Reads the monitor file; a header it refuses is kept as the failure for TakeHeader.
    [[nodiscard]] bool ReadMonitorFile();
    [[nodiscard]] bool TakeHeader();
    [[nodiscard]] bool Handshake();
    [[nodiscard]] bool SendLoader();
    [[nodiscard]] bool RamTest();
    [[nodiscard]] bool SendMonitor();
    // Row f: the monitor's `length` bytes, each checked against its echo, in the request's
    // echo window. False when the job has ended (failed or aborted).
    [[nodiscard]] bool SendMonitorData(const std::uint8_t* monitor, std::uint32_t length);

    // Ends the job aborted and returns true when a stop was requested.
    [[nodiscard]] bool PollAborted();

    // True when the write went out; else logs the lost line and keeps it as the failure.
    [[nodiscard]] bool Sent(const Status& write);
    // Sends `byte` and checks the single-byte answer (read-all) against `expected`, logging and
    // keeping the failure. True when the answer was right.
    [[nodiscard]] bool ExchangeByte(std::uint8_t byte, std::uint8_t expected);
    // Waits for one answer byte and checks it against `expected`. With `readAll` everything
    // that waits with it is taken too; without, only that byte.
    [[nodiscard]] bool ExpectByte(std::uint8_t expected, bool readAll = true);
    // Ends the job failed with the reason and line of the last failed step.
    void EndWithStepFailure() { EndFailed(m_failureReason, m_failureLine, m_failureDetail); }

    const InitializeRequest& m_request;
    const LineSettings& m_lineSettings;
    JobSession& m_session;
    const ChannelOpener& m_opener;
    MonitorFile m_monitor;
    FailureReason m_failureReason = FailureReason::kNone;
    std::string m_failureLine;
    std::string m_failureDetail;  // the port and the system's reason it could not be used
};

}  // namespace quillon
