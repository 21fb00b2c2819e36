#pragma once

#include "image/monitor_header.h"
#include "link/job.h"

// The Start Download job: loads the image file, erases the sectors it uses (and, with the
// "Erase all sectors" setting, sectors 0 .. eraseAllSectorCount - 1), programs every used
// sector in CRC-protected 128-byte blocks and finalizes. Talks to the monitor that the last
// Initialize started, over the port it opened. Ends with exactly one UM_DOWNLOAD_DONE.
class DownloadJob : public Job {
public:
    // `eraseAll` is the owner's setting, read fresh while the erase phase runs.
    DownloadJob(const JobParams& job, SerialLink& link, const MonitorHeader& header,
                const std::atomic<int>& eraseAll, const std::atomic<int>& stop)
        : Job(job, link, stop), m_header(header), m_eraseAll(eraseAll) {}

    void Run();

    static constexpr std::uint32_t kBlockSize = 128;
    static constexpr std::size_t kEraseFrameLength = 8;
    static constexpr std::size_t kBlockFrameLength = 141;
    static constexpr std::size_t kFinalizeFrameLength = 7;

    // The frames, built at the start of `out`; each returns its length.
    static std::size_t BuildEraseFrame(std::uint8_t* out, int sector);
    static std::size_t BuildBlockFrame(std::uint8_t* out, int sector, std::uint32_t offset);
    static std::size_t BuildFinalizeFrame(std::uint8_t* out);

private:
    enum class Outcome { kDone, kFailed, kAborted };

    Outcome Erase();
    Outcome EraseSector(int sector);
    Outcome Program();
    Outcome ProgramBlock(int sector, std::uint32_t offset);
    Outcome Finalize();

    // "Wrong CRC!" when the error code is "C" and `crcHasItsOwnText`, else "Error %c!".
    void LogErrorAnswer(bool crcHasItsOwnText) const;
    bool SectorUsed(int sector) const;

    const MonitorHeader& m_header;
    const std::atomic<int>& m_eraseAll;
    std::uint32_t m_programTotal = 0;
    std::uint32_t m_programDone = 0;
};
