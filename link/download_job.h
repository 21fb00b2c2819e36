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

    // Logged instead of any frame when the image holds no data and nothing is to be erased.
    static constexpr const char* kNoDataLine =
        "No data in the image file: nothing to erase or program!";

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
    // How the wait for one answer of the monitor ended.
    enum class Reply { kAccepted, kSilent, kRefused, kAborted };
    enum class Frame { kErase, kBlock, kFinalize };

    Outcome Erase();
    Outcome EraseSector(int sector);
    Outcome Program();
    Outcome ProgramBlock(int sector, std::uint32_t offset);
    Outcome Finalize();

    // Makes the line ready for the next frame and sends it, built at the start of the buffer.
    // Whatever waits in the input queue then is stale: an answer to an earlier frame can never
    // pass for the answer to this one. After a block went out more than once, the answers owed
    // to its other copies may still be on the way: the line is first left to settle. False
    // when an abort request came while it settled (nothing was sent).
    bool SendFrame(Frame frame, int sector = 0, std::uint32_t offset = 0);
    // Drops whatever arrives until the line has been quiet for kSettleQuietMs (at most for a
    // block's answer time-out). False on an abort request.
    bool SettleLine();
    // Waits for one 7-byte answer, each wait at most `timeoutMs`. "Not finished" answers are
    // waited past with a fresh time-out, and between them an abort request ends the wait. An
    // error answer is logged: "Wrong CRC!" for code "C" when `crcHasItsOwnText`, else
    // "Error %c!".
    Reply AwaitReply(std::uint32_t timeoutMs, bool crcHasItsOwnText);
    // "Wrong CRC!" when the error code is "C" and `crcHasItsOwnText`, else "Error %c!".
    void LogErrorAnswer(bool crcHasItsOwnText) const;
    bool SectorUsed(int sector) const;
    // How many sectors from 0 on are erased whatever the image holds: the header's erase-all
    // count with the setting on, else 0.
    int EraseAllCount() const;
    // A sector in the erase set: used, or below the erase-all count.
    bool SectorToErase(int sector) const;

    const MonitorHeader& m_header;
    const std::atomic<int>& m_eraseAll;
    std::uint32_t m_programTotal = 0;
    std::uint32_t m_programDone = 0;
    // A block of this job went out more than once: its earlier copies may still be answered.
    bool m_answersOwed = false;
    bool m_blockRepeated = false;
};
