#include "link/download_job.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "helpers/text_format.h"
#include "link/crc.h"
#include "platform/sha256.h"

namespace quillon {

namespace {

constexpr std::size_t kAnswerLength = 7;
constexpr int kMaxBlockRepeats = 4;  // a block goes out at most 5 times
constexpr std::uint32_t kStarEvery = 1280;

constexpr std::uint8_t kStatusError = 'E';
constexpr std::uint8_t kStatusNotFinished = 'D';
constexpr std::uint8_t kErrorCrc = 'C';

// A byte on the line: a start bit, 8 data bits, a stop bit.
constexpr std::uint64_t kBitsPerByte = 10;

// Appends the CRC of the first `length` bytes of `frame` as four hex digits.
void AppendCrc(std::uint8_t* frame, std::size_t length) {
    const std::uint16_t crc = CalcCrc(frame, length);
    char digits[5];
    std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(crc));
    std::memcpy(frame + length, digits, 4);
}

// Bytes of the target's answer as log text: Windows-1252, like every 8-bit text of the
// program, up to a NUL. Control characters are shown as \xNN, so a garbled answer can neither
// split a log line nor reach a terminal as a control sequence.
std::string AnswerText(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count && bytes[i] != 0; ++i) {
        if (bytes[i] < 0x20 || bytes[i] == 0x7F) {
            text += FormatText("\\x%02X", static_cast<unsigned>(bytes[i]));
        } else {
            text += Cp1252ToUtf8(bytes[i]);
        }
    }
    return text;
}

}  // namespace

std::size_t DownloadJob::BuildEraseFrame(std::uint8_t* out, int sector) {
    char head[5];
    std::snprintf(head, sizeof head, "P2%02X", static_cast<unsigned>(sector & 0xFF));
    std::memcpy(out, head, 4);
    AppendCrc(out, 4);
    return kEraseFrameLength;
}

std::size_t DownloadJob::BuildBlockFrame(std::uint8_t* out, const HexImage& image, int sector,
                                         std::uint32_t offset) {
    char head[16];
    const unsigned long address = HexImage::Address(sector, offset);
    std::snprintf(head, sizeof head, "V%06lX%02X", address, static_cast<unsigned>(kBlockSize));
    std::memcpy(out, head, 9);
    std::memcpy(out + 9, image.SegmentData(sector) + offset, kBlockSize);
    AppendCrc(out, 9 + kBlockSize);
    return kBlockFrameLength;
}

std::size_t DownloadJob::BuildFinalizeFrame(std::uint8_t* out) {
    char frame[8];
    std::snprintf(frame, sizeof frame, "F%6X", 0u);
    std::memcpy(out, frame, kFinalizeFrameLength);
    return kFinalizeFrameLength;
}

std::string DownloadJob::ProgrammedSha256(const HexImage& image) {
    Sha256 digest;
    for (int s = 0; s < HexImage::kSegmentCount; ++s) {
        if (image.HoldsData(s)) {
            digest.Update(image.SegmentData(s), (image.FillMark(s) / kBlockSize + 1) * kBlockSize);
        }
    }
    return digest.FinishHex();
}

bool DownloadJob::SectorUsed(int sector) const {
    return m_image->HoldsData(sector);
}

int DownloadJob::EraseAllCount() const {
    return m_request.eraseAll ? m_header.eraseAllSectorCount : 0;
}

bool DownloadJob::SectorToErase(int sector) const {
    return SectorUsed(sector) || sector < EraseAllCount();
}

void DownloadJob::LogErrorAnswer(bool crcHasItsOwnText) {
    const std::uint8_t code = line().buffer()[1];
    if (crcHasItsOwnText && code == kErrorCrc) {
        KeepFailure(FailureReason::kWrongCrc, "Wrong CRC!");
    } else {
        KeepFailure(FailureReason::kTargetError,
                    FormatText("Error %s!", AnswerText(&code, 1).c_str()));
    }
    Log(m_failureLine);
}

bool DownloadJob::TakeImage() {
    if (!m_session.channel || !m_session.header) {
        // Nothing to talk to: no Initialize has opened a port and started a monitor.
        EndFailed(FailureReason::kNoPort, "Start Download needs a successful Initialize first");
        return false;
    }
    m_header = *m_session.header;
    UseChannel(*m_session.channel, m_session.port);
    m_image = m_request.image;
    bool loaded = m_image != nullptr;
    std::string failure;
    if (!m_image) {
        HexReadResult read = ReadHexFile(m_request.imageFile, StopCheckForReads());
        ShowReaderMessages(m_request.imageFile, read);
        loaded = read.has_value();
        if (loaded) {
            m_image = std::make_shared<const HexImage>(std::move(read->image));
        } else {
            failure = read.error().text;
        }
    }
    if (StopRequested()) {
        EndAborted();
        return false;
    }
    if (!loaded) {
        EndFailed(FailureReason::kFileUnreadable, failure);
        return false;
    }
    // A file that holds no data byte would program nothing and still end in a finalize that
    // reads as success. Only an erase that the operator asked for makes such a run useful.
    if (!m_image->HoldsAnyData() && EraseAllCount() == 0) {
        Log(kNoDataLine);
        EndFailed(FailureReason::kNoData, kNoDataLine);
        return false;
    }
    return true;
}

void DownloadJob::Run() {
    if (!TakeImage()) {
        return;
    }
    Outcome outcome = Erase();
    if (outcome == Outcome::kDone) {
        outcome = Program();
    }
    if (outcome == Outcome::kDone) {
        outcome = Finalize();
    }
    KeepDownloadTiming();
    switch (outcome) {
        case Outcome::kDone:
            EndSucceeded();
            break;
        case Outcome::kAborted:
            EndAborted();
            break;
        case Outcome::kFailed:
            EndFailed(m_failureReason, m_failureLine);
            break;
    }
}

bool DownloadJob::SettleLine() {
    const std::uint64_t start = m_clock.NowMs();
    // Each byte that arrives starts the quiet time anew; the wait reads and drops it.
    while (line().WaitForResponse(m_timeouts.settleQuietMs, 1, true)) {
        if (StopRequested()) {
            return false;
        }
        if (m_clock.NowMs() - start >= m_timeouts.blockMs) {
            break;  // a line that never goes quiet: the frame's own answer check decides
        }
    }
    return true;
}

DownloadJob::Outcome DownloadJob::SendFrame(Frame frame, int sector, std::uint32_t offset) {
    if (m_answersOwed) {
        if (!SettleLine()) {
            return Outcome::kAborted;
        }
        m_answersOwed = false;
    }
    // An answer that came after an earlier frame's (or an earlier job's) answer was taken, a
    // late copy or noise: stale for the frame about to go out.
    line().DiscardInput();
    std::uint8_t* buffer = line().buffer();
    std::size_t length = 0;
    switch (frame) {
        case Frame::kErase:
            length = BuildEraseFrame(buffer, sector);
            break;
        case Frame::kBlock:
            length = BuildBlockFrame(buffer, *m_image, sector, offset);
            break;
        case Frame::kFinalize:
            length = BuildFinalizeFrame(buffer);
            break;
    }
    const std::uint64_t writeStartUs = m_clock.NowUs();
    if (const Status written = line().WriteBytes(buffer, length); !written) {
        KeepFailure(FailureReason::kLineLost, LogLineLost(written.error()));
        return Outcome::kFailed;
    }
    // The write returns once the driver has the bytes, which usually is before they are on
    // the wire: the frame's last byte leaves one frame's wire time after the write began, or
    // when the write returned, if that was later.
    const std::uint64_t bitsPerSecond = std::max<std::uint64_t>(1, m_session.baud.bitsPerSecond);
    m_lastByteOnWireUs =
        std::max(m_clock.NowUs(), writeStartUs + length * kBitsPerByte * 1000000 / bitsPerSecond);
    if (frame == Frame::kBlock && !m_firstBlockSentUs) {
        m_firstBlockSentUs = writeStartUs;
    }
    return Outcome::kDone;
}

DownloadJob::Reply DownloadJob::AwaitReply(std::uint32_t timeoutMs, bool crcHasItsOwnText) {
    const std::uint8_t* buffer = line().buffer();
    for (;;) {
        // Exactly one answer: bytes behind it are the start of the next one and stay queued.
        if (!line().WaitForResponse(timeoutMs, kAnswerLength, false)) {
            return Reply::kSilent;
        }
        if (buffer[0] == kStatusError) {
            LogErrorAnswer(crcHasItsOwnText);
            return Reply::kRefused;
        }
        if (buffer[0] != kStatusNotFinished) {
            return Reply::kAccepted;
        }
        // "Not finished yet": wait again, but a target that never finishes cannot hold a job
        // that the operator wants to end.
        if (StopRequested()) {
            return Reply::kAborted;
        }
    }
}

DownloadJob::Outcome DownloadJob::OutcomeOf(Reply reply) {
    switch (reply) {
        case Reply::kAccepted:
            return Outcome::kDone;
        case Reply::kSilent:
            KeepFailure(FailureReason::kNoAnswer, LogNoResponse());
            return Outcome::kFailed;
        case Reply::kRefused:
            return Outcome::kFailed;  // the error answer is logged and kept already
        case Reply::kAborted:
            break;
    }
    return Outcome::kAborted;
}

DownloadJob::Outcome DownloadJob::Erase() {
    for (int s = 0; s < HexImage::kSegmentCount; ++s) {
        if (StopRequested()) {
            return Outcome::kAborted;
        }
        if (!SectorToErase(s)) {
            continue;
        }
        const Outcome outcome = EraseSector(s);
        if (outcome != Outcome::kDone) {
            return outcome;
        }
    }
    return Outcome::kDone;
}

DownloadJob::Outcome DownloadJob::EraseSector(int sector) {
    Log(FormatText("Erasing sector %d!", sector));
    if (const Outcome sent = SendFrame(Frame::kErase, sector); sent != Outcome::kDone) {
        return sent;
    }
    // The first answer names the flash type; it is not waited past on "not finished".
    const std::uint8_t* buffer = line().buffer();
    if (!line().WaitForResponse(m_timeouts.eraseAnswerMs, kAnswerLength, false)) {
        KeepFailure(FailureReason::kNoAnswer, LogNoResponse());
        return Outcome::kFailed;
    }
    if (buffer[0] == kStatusError) {
        LogErrorAnswer(true);
        return Outcome::kFailed;
    }
    const std::string flashType(reinterpret_cast<const char*>(buffer + 1),
                                strnlen(reinterpret_cast<const char*>(buffer + 1), 4));
    if (!IsFlashTypeInHeader(m_header, flashType)) {
        KeepFailure(FailureReason::kUnknownFlashType,
                    FormatText("Wrong flash type %s!", AnswerText(buffer + 1, 4).c_str()));
        Log(m_failureLine);
        return Outcome::kFailed;
    }
    return OutcomeOf(AwaitReply(m_timeouts.eraseDoneMs, false));
}

DownloadJob::Outcome DownloadJob::Program() {
    m_programTotal = 0;
    for (int s = 0; s < HexImage::kSegmentCount; ++s) {
        if (SectorUsed(s)) {
            m_programTotal += (m_image->FillMark(s) / kBlockSize + 1) * kBlockSize;
        }
    }
    m_programDone = 0;
    for (int s = 0; s < HexImage::kSegmentCount; ++s) {
        if (!SectorUsed(s)) {
            continue;
        }
        Log(FormatText("Programming sector %d! ", s));
        const std::uint32_t fill = m_image->FillMark(s);
        for (std::uint32_t offset = 0; offset <= fill; offset += kBlockSize) {
            if (StopRequested()) {
                return Outcome::kAborted;
            }
            if (offset % kStarEvery == 0) {
                Append("*");
            }
            const Outcome outcome = ProgramBlock(s, offset);
            if (outcome != Outcome::kDone) {
                return outcome;
            }
            m_programDone += kBlockSize;
            ReportProgress(ProgressPhase::kProgramming, m_programDone, m_programTotal,
                           m_programDone == m_programTotal);
        }
    }
    return Outcome::kDone;
}

DownloadJob::Outcome DownloadJob::ProgramBlock(int sector, std::uint32_t offset) {
    int sends = 0;
    // Once a block went out more than once, the copies sent before may yet be answered, late:
    // those answers must not be taken for the next frame's.
    const auto ended = [&](Outcome outcome) {
        if (sends > 1) {
            m_answersOwed = true;
            m_blockRepeated = true;
        }
        return outcome;
    };
    for (;;) {
        // Built anew for every send: a partial answer may have overwritten the buffer.
        if (const Outcome sent = SendFrame(Frame::kBlock, sector, offset); sent != Outcome::kDone) {
            return ended(sent);
        }
        ++sends;
        // A silent target gets the block again (up to the repeat limit).
        if (const Reply reply = AwaitReply(m_timeouts.blockMs, true); reply != Reply::kSilent) {
            if (reply == Reply::kAccepted) {
                NoteBlockAnswered();
            }
            return ended(OutcomeOf(reply));
        }
        // An answer that began just before the time-out ran out had its first bytes consumed;
        // the rest may still come and must not start the next answer read.
        m_answersOwed = m_answersOwed || line().lastReadCount() > 0;
        if (sends > kMaxBlockRepeats) {
            KeepFailure(FailureReason::kNoAnswer, LogNoResponse());
            return ended(Outcome::kFailed);
        }
        // Up to 15 s of silence: an abort request is taken before each send, not only before
        // the block's first.
        if (StopRequested()) {
            return ended(Outcome::kAborted);
        }
    }
}

void DownloadJob::NoteBlockAnswered() {
    const std::uint64_t now = m_clock.NowUs();
    m_answerDelaysUs.push_back(now > m_lastByteOnWireUs ? now - m_lastByteOnWireUs : 0);
    m_lastBlockAnsweredUs = now;
    m_blockBytesAnswered += kBlockSize;
}

void DownloadJob::KeepDownloadTiming() {
    if (m_answerDelaysUs.empty() || !m_firstBlockSentUs) {
        return;  // no block answered: nothing measured
    }
    std::vector<std::uint64_t> delays = m_answerDelaysUs;
    const auto middle = delays.begin() + static_cast<std::ptrdiff_t>(delays.size() / 2);
    std::nth_element(delays.begin(), middle, delays.end());
    DownloadTiming timing;
    timing.answerDelayUs = *middle;
    // A clock that did not move (a virtual one) counts as one microsecond.
    const std::uint64_t spanUs =
        std::max<std::uint64_t>(1, m_lastBlockAnsweredUs - *m_firstBlockSentUs);
    timing.bytesPerSecond = m_blockBytesAnswered * 1000000 / spanUs;
    m_downloadTiming = timing;
}

DownloadJob::Outcome DownloadJob::Finalize() {
    Log("Finalizing download");
    // Once a block had to be sent again, the whole line settles before the finalize, so that
    // only an answer to the finalize itself can say whether the download is complete.
    m_answersOwed = m_answersOwed || m_blockRepeated;
    if (const Outcome sent = SendFrame(Frame::kFinalize); sent != Outcome::kDone) {
        return sent;
    }
    const Outcome outcome = OutcomeOf(AwaitReply(m_timeouts.blockMs, true));
    if (outcome == Outcome::kDone) {
        Log("Download finished successfully!");
    }
    return outcome;
}

}  // namespace quillon
