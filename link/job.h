#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "image/hex_reader.h"
#include "link/messages.h"
#include "link/serial_link.h"
#include "platform/ticks.h"

// What both jobs share: the job record, the link, the abort flag and the ways they report.
class Job {
public:
    Job(const JobParams& job, SerialLink& link, const std::atomic<int>& stop)
        : m_job(job), m_link(link), m_stop(stop) {}

protected:
    void Log(const std::string& text) const { PostLogLine(m_job.hWndOwner, text); }
    void Append(const std::string& text) const { PostLogAppend(m_job.hWndOwner, text); }
    void PostDone(unsigned message, bool aborted, bool succeeded) const;
    // The abort flag, read fresh from memory at every poll point.
    bool StopRequested() const { return m_stop.load() != 0; }

    // LoadHexFile on `path`; an abort request ends a long load between its chunks.
    bool LoadFile(const std::string& path) const { return LoadHexFile(path, &m_stop) != 0; }

    // "No response from target (=> Activate BSL-Mode => Reset) !"
    void LogNoResponse() const;
    // "Wrong answer (Set 0x%02X::Act 0x%02X)!"
    void LogWrongAnswer(std::uint8_t expected, std::uint8_t received) const;

    // Progress of the running phase, posted at most every 100 ms unless `final`.
    void ReportProgress(ProgressPhase phase, std::uint32_t done, std::uint32_t total, bool final);

    const JobParams& m_job;
    SerialLink& m_link;

private:
    const std::atomic<int>& m_stop;
    std::uint32_t m_lastProgressTick = 0;
    bool m_progressPosted = false;
};
