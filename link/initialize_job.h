#pragma once

#include "image/monitor_header.h"
#include "link/job.h"

// The Initialize job: opens the port, loads the monitor file, runs the bootstrap handshake,
// sends loader Level 0 and Level 1, reads the RAM test report and uploads the monitor with a
// byte echo until the monitor reports that it runs. Ends with exactly one UM_INIT_DONE.
class InitializeJob : public Job {
public:
    // `header` is the worker's header copy, written once a monitor file is accepted.
    InitializeJob(const JobParams& job, SerialLink& link, MonitorHeader& header,
                  const std::atomic<int>& stop)
        : Job(job, link, stop), m_header(header) {}

    void Run();

private:
    // The steps; each returns false when the job has ended (its done message is posted).
    bool OpenAndLoad();
    bool TakeHeader();
    bool Handshake();
    bool SendLoader();
    bool RamTest();
    bool SendMonitor();

    // Posts (1, 0) and returns true when an abort was requested.
    bool PollAborted();
    void EndFailed() { PostDone(UM_INIT_DONE, false, false); }

    // Sends `byte` and checks the single-byte answer (1000 ms, read-all) against `expected`,
    // logging the failure. True when the answer was right.
    bool ExchangeByte(std::uint8_t byte, std::uint8_t expected);
    // Waits for one answer byte (1000 ms) and checks it against `expected`. With `readAll`
    // everything that waits with it is taken too; without, only that byte.
    bool ExpectByte(std::uint8_t expected, bool readAll = true);

    MonitorHeader& m_header;
};
