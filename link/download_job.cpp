#include "link/download_job.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "image/hex_reader.h"
#include "image/image_memory.h"
#include "link/crc.h"
#include "platform/text_format.h"

namespace {

constexpr std::uint32_t kEraseAnswerTimeoutMs = 1000;
constexpr std::uint32_t kEraseDoneTimeoutMs = 10000;
constexpr std::uint32_t kBlockTimeoutMs = 3000;
constexpr std::size_t kAnswerLength = 7;
constexpr int kMaxBlockRepeats = 4;  // a block goes out at most 5 times
constexpr std::uint32_t kStarEvery = 1280;

constexpr std::uint8_t kStatusError = 'E';
constexpr std::uint8_t kStatusNotFinished = 'D';
constexpr std::uint8_t kErrorCrc = 'C';

// Appends the CRC of the first `length` bytes of `frame` as four hex digits.
void AppendCrc(std::uint8_t* frame, std::size_t length) {
    const std::uint16_t crc = CalcCrc(frame, static_cast<std::uint8_t>(length));
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

std::size_t DownloadJob::BuildBlockFrame(std::uint8_t* out, int sector, std::uint32_t offset) {
    char head[16];
    const unsigned long address = ImageMemory::Address(sector, offset);
    std::snprintf(head, sizeof head, "V%06lX%02X", address, static_cast<unsigned>(kBlockSize));
    std::memcpy(out, head, 9);
    std::memcpy(out + 9, g_imageMemory.SegmentData(sector) + offset, kBlockSize);
    AppendCrc(out, 9 + kBlockSize);
    return kBlockFrameLength;
}

std::size_t DownloadJob::BuildFinalizeFrame(std::uint8_t* out) {
    char frame[8];
    std::snprintf(frame, sizeof frame, "F%6X", 0u);
    std::memcpy(out, frame, kFinalizeFrameLength);
    return kFinalizeFrameLength;
}

bool DownloadJob::SectorUsed(int sector) const {
    return g_imageMemory.HoldsData(sector);
}

void DownloadJob::LogErrorAnswer(bool crcHasItsOwnText) const {
    const std::uint8_t code = m_link.buffer()[1];
    if (crcHasItsOwnText && code == kErrorCrc) {
        Log("Wrong CRC!");
    } else {
        Log(FormatText("Error %s!", AnswerText(&code, 1).c_str()));
    }
}

void DownloadJob::Run() {
    const bool loaded = m_link.IsPortOpen() && LoadHexFile(m_job.strFile) != 0;
    if (StopRequested()) {
        PostDone(UM_DOWNLOAD_DONE, true, false);
        return;
    }
    if (!loaded) {
        PostDone(UM_DOWNLOAD_DONE, false, false);
        return;
    }
    // An answer that came after an earlier job had ended (an erase completion after a refused
    // flash type, say) must not pass for the answer to this job's first command.
    m_link.DiscardInput();
    Outcome outcome = Erase();
    if (outcome == Outcome::kDone) {
        outcome = Program();
    }
    if (outcome == Outcome::kDone) {
        outcome = Finalize();
    }
    PostDone(UM_DOWNLOAD_DONE, outcome == Outcome::kAborted, outcome == Outcome::kDone);
}

DownloadJob::Outcome DownloadJob::Erase() {
    for (int s = 0; s < ImageMemory::kSegmentCount; ++s) {
        if (StopRequested()) {
            return Outcome::kAborted;
        }
        const bool eraseAll = m_eraseAll.load() != 0;
        if (!SectorUsed(s) && !(eraseAll && s < m_header.eraseAllSectorCount)) {
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
    std::uint8_t* buffer = m_link.buffer();
    m_link.WriteBytes(buffer, BuildEraseFrame(buffer, sector));

    if (!m_link.WaitForResponse(kEraseAnswerTimeoutMs, kAnswerLength, false)) {
        LogNoResponse();
        return Outcome::kFailed;
    }
    if (buffer[0] == kStatusError) {
        LogErrorAnswer(true);
        return Outcome::kFailed;
    }
    const std::string flashType(reinterpret_cast<const char*>(buffer + 1),
                                strnlen(reinterpret_cast<const char*>(buffer + 1), 4));
    if (!m_link.IsKnownFlashType(flashType)) {
        Log(FormatText("Wrong flash type %s!", AnswerText(buffer + 1, 4).c_str()));
        return Outcome::kFailed;
    }
    for (;;) {
        if (!m_link.WaitForResponse(kEraseDoneTimeoutMs, kAnswerLength, true)) {
            LogNoResponse();
            return Outcome::kFailed;
        }
        // This wait takes everything that has arrived. When a "not finished" answer and the
        // completion came close together, both were read: the first answer that is not "not
        // finished" decides, so a finished erase is not taken for a silent target.
        const std::size_t answers =
            std::max<std::size_t>(1, m_link.lastReadCount() / kAnswerLength);
        std::size_t at = 0;
        while (at + 1 < answers && buffer[at * kAnswerLength] == kStatusNotFinished) {
            ++at;
        }
        if (at > 0) {
            std::memmove(buffer, buffer + at * kAnswerLength, kAnswerLength);
        }
        if (buffer[0] == kStatusError) {
            LogErrorAnswer(false);
            return Outcome::kFailed;
        }
        if (buffer[0] != kStatusNotFinished) {
            return Outcome::kDone;
        }
        // "Not finished yet": wait again, but a target that never finishes cannot hold a
        // job that the operator wants to end.
        if (StopRequested()) {
            return Outcome::kAborted;
        }
    }
}

DownloadJob::Outcome DownloadJob::Program() {
    m_programTotal = 0;
    for (int s = 0; s < ImageMemory::kSegmentCount; ++s) {
        if (SectorUsed(s)) {
            m_programTotal += (g_imageMemory.FillMark(s) / kBlockSize + 1) * kBlockSize;
        }
    }
    m_programDone = 0;
    for (int s = 0; s < ImageMemory::kSegmentCount; ++s) {
        if (!SectorUsed(s)) {
            continue;
        }
        Log(FormatText("Programming sector %d! ", s));
        const std::uint32_t fill = g_imageMemory.FillMark(s);
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
    std::uint8_t* buffer = m_link.buffer();
    int repeats = 0;
    m_link.WriteBytes(buffer, BuildBlockFrame(buffer, sector, offset));
    for (;;) {
        if (!m_link.WaitForResponse(kBlockTimeoutMs, kAnswerLength, false)) {
            if (repeats == kMaxBlockRepeats) {
                LogNoResponse();
                return Outcome::kFailed;
            }
            ++repeats;
            // Built anew: a partial answer may have overwritten the buffer.
            m_link.WriteBytes(buffer, BuildBlockFrame(buffer, sector, offset));
            continue;
        }
        if (buffer[0] == kStatusError) {
            LogErrorAnswer(true);
            return Outcome::kFailed;
        }
        if (buffer[0] != kStatusNotFinished) {
            return Outcome::kDone;
        }
        if (StopRequested()) {
            return Outcome::kAborted;
        }
    }
}

DownloadJob::Outcome DownloadJob::Finalize() {
    Log("Finalizing download");
    std::uint8_t* buffer = m_link.buffer();
    m_link.WriteBytes(buffer, BuildFinalizeFrame(buffer));
    for (;;) {
        if (!m_link.WaitForResponse(kBlockTimeoutMs, kAnswerLength, false)) {
            LogNoResponse();
            return Outcome::kFailed;
        }
        if (buffer[0] == kStatusError) {
            LogErrorAnswer(true);
            return Outcome::kFailed;
        }
        if (buffer[0] != kStatusNotFinished) {
            Log("Download finished successfully!");
            return Outcome::kDone;
        }
        if (StopRequested()) {
            return Outcome::kAborted;
        }
    }
}
