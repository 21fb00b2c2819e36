#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "image/monitor_header.h"
#include "link/job.h"
#include "link/job_session.h"

namespace quillon {

// The Start Download job: takes the image (reading the image file when its owner has not),
// erases the sectors it uses (and with erase-all sectors 0 .. eraseAllSectorCount - 1),
// programs every used sector in CRC-protected 128-byte blocks and finalizes. Talks to the
// monitor that the last Initialize started, over the port it opened. Ends with exactly one done
// event.
class DownloadJob : public Job {
public:
    DownloadJob(const DownloadRequest& request, JobSession& session, Clock& clock,
                std::stop_token stop, JobEventSink& events, const Timeouts& timeouts)
        : Job(clock, std::move(stop), events, timeouts), m_request(request), m_session(session) {}

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
    static std::size_t BuildBlockFrame(std::uint8_t* out, const HexImage& image, int sector,
                                       std::uint32_t offset);
    static std::size_t BuildFinalizeFrame(std::uint8_t* out);

    // The SHA-256 of the image as the job programs it: the data of every block it sends, in
    // the order it sends them (each sector with data from its start to the end of the block
    // that holds its fill mark), as 64 lower-case hex digits.
    static std::string ProgrammedSha256(const HexImage& image);

private:
    enum class Outcome { kDone, kFailed, kAborted };
    // How the wait for one answer of the monitor ended.
    enum class Reply { kAccepted, kSilent, kRefused, kAborted };
    enum class Frame { kErase, kBlock, kFinalize };

    // Takes the image the request carries, or reads its file; false when the job has ended.
    [[nodiscard]] bool TakeImage();
    [[nodiscard]] Outcome Erase();
    [[nodiscard]] Outcome EraseSector(int sector);
    [[nodiscard]] Outcome Program();
    [[nodiscard]] Outcome ProgramBlock(int sector, std::uint32_t offset);
    [[nodiscard]] Outcome Finalize();

    // Makes the line ready for the next frame and sends it, built at the start of the buffer.
    // Whatever waits in the input queue then is stale: an answer to an earlier frame can never
    // pass for the answer to this one. After a block went out more than once, the answers owed
    // to its other copies may still be on the way: the line is first left to settle.
    // kAborted when an abort request came while it settled (nothing was sent), kFailed (the
    // lost line logged) when the write failed.
    [[nodiscard]] Outcome SendFrame(Frame frame, int sector = 0, std::uint32_t offset = 0);
    // Drops whatever arrives until the line has been quiet for kSettleQuietMs (at most for a
    // block's answer time-out). False on an abort request.
    [[nodiscard]] bool SettleLine();
    // Waits for one 7-byte answer, each wait at most `timeoutMs`. "Not finished" answers are
    // waited past with a fresh time-out, and between them an abort request ends the wait. An
    // error answer is logged: "Wrong CRC!" for code "C" when `crcHasItsOwnText`, else
    // "Error %c!".
    [[nodiscard]] Reply AwaitReply(std::uint32_t timeoutMs, bool crcHasItsOwnText);
    // What the answer's wait means for the frame: accepted, failed (a silent target logged as
    // "No response from target ..."), or aborted.
    [[nodiscard]] Outcome OutcomeOf(Reply reply);
    // "Wrong CRC!" when the error code is "C" and `crcHasItsOwnText`, else "Error %c!".
    void LogErrorAnswer(bool crcHasItsOwnText);
    // Remembers why the job failed, for its done event.
    void KeepFailure(FailureReason reason, std::string line) {
        m_failureReason = reason;
        m_failureLine = std::move(line);
    }
    // A block's answer came: its delay and its bytes count for the download's timing.
    void NoteBlockAnswered();
    // The timing of the blocks answered so far, for the done event.
    void KeepDownloadTiming();
    bool SectorUsed(int sector) const;
    // How many sectors from 0 on are erased whatever the image holds: the header's erase-all
    // count with the setting on, else 0.
    int EraseAllCount() const;
    // A sector in the erase set: used, or below the erase-all count.
    bool SectorToErase(int sector) const;

    const DownloadRequest& m_request;
    JobSession& m_session;
    MonitorHeader m_header{};
    std::shared_ptr<const HexImage> m_image;
    FailureReason m_failureReason = FailureReason::kNone;
    std::string m_failureLine;
    std::uint32_t m_programTotal = 0;
    std::uint32_t m_programDone = 0;
    // A block of this job went out more than once: its earlier copies may still be answered.
    bool m_answersOwed = false;
    bool m_blockRepeated = false;
    // When the last byte of the frame sent last was on the wire (by the clock's microseconds).
    std::uint64_t m_lastByteOnWireUs = 0;
    std::optional<std::uint64_t> m_firstBlockSentUs;
    std::uint64_t m_lastBlockAnsweredUs = 0;
    std::uint64_t m_blockBytesAnswered = 0;
    std::vector<std::uint64_t> m_answerDelaysUs;  // one per answered block
};

}  // namespace quillon
