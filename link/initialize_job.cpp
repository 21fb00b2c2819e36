#include "link/initialize_job.h"

#include "image/image_memory.h"
#include "platform/text_format.h"

namespace {

constexpr std::uint32_t kHandshakeTimeoutMs = 1000;
constexpr std::uint32_t kRamTestTimeoutMs = 10000;
constexpr std::uint32_t kEchoTimeoutMs = 500;
constexpr std::size_t kRamReportLength = 8;

// The bytes of the monitor exchange.
constexpr std::uint8_t kMonitorStart = 0x02;
constexpr std::uint8_t kMonitorLength = 0x10;
constexpr std::uint8_t kMonitorData = 0x03;
constexpr std::uint8_t kMonitorRunning = 0x11;
constexpr std::uint8_t kRamReportMarker = 0xAA;
constexpr std::uint8_t kRamTestPassed = 3;

}  // namespace

bool InitializeJob::PollAborted() {
    if (!StopRequested()) {
        return false;
    }
    PostDone(UM_INIT_DONE, true, false);
    return true;
}

bool InitializeJob::ExpectByte(std::uint8_t expected, bool readAll) {
    if (!m_link.WaitForResponse(kHandshakeTimeoutMs, 1, readAll)) {
        LogNoResponse();
        return false;
    }
    if (m_link.buffer()[0] != expected) {
        LogWrongAnswer(expected, m_link.buffer()[0]);
        return false;
    }
    return true;
}

bool InitializeJob::ExchangeByte(std::uint8_t byte, std::uint8_t expected) {
    m_link.WriteBytes(&byte, 1);
    return ExpectByte(expected);
}

void InitializeJob::Run() {
    if (OpenAndLoad() && TakeHeader() && Handshake() && SendLoader() && RamTest() &&
        SendMonitor()) {
        Log("Monitor started!");
        PostDone(UM_INIT_DONE, false, true);
    }
}

bool InitializeJob::OpenAndLoad() {
    const bool opened = m_link.OpenPort(m_job);
    if (PollAborted()) {
        return false;
    }
    if (!opened) {
        EndFailed();
        return false;
    }
    m_link.DiscardInput();  // whatever waited before the job is stale
    if (!LoadFile(m_job.strFile)) {
        if (!PollAborted()) {
            EndFailed();
        }
        return false;
    }
    return true;
}

bool InitializeJob::TakeHeader() {
    const MonitorHeaderSearch search = SearchMonitorHeader();
    bool accepted = false;
    switch (search.status) {
        case MonitorHeaderStatus::kNoSignature:
            Log("Invalid monitor file!\nNo specification found.");
            break;
        case MonitorHeaderStatus::kIncompatible:
            Log("Invalid monitor file!\nIncompatible specification.");
            break;
        case MonitorHeaderStatus::kAccepted:
            m_header = CopyMonitorHeader(search);
            accepted = true;
            break;
    }
    if (PollAborted()) {
        return false;
    }
    if (!accepted) {
        EndFailed();
    }
    return accepted;
}

bool InitializeJob::Handshake() {
    Log("---------------------------------------");
    const bool ok = ExchangeByte(m_header.syncByte, m_header.identByte);
    if (PollAborted()) {
        return false;
    }
    if (!ok) {
        EndFailed();
    }
    return ok;
}

bool InitializeJob::SendLoader() {
    const int segment = m_header.loaderSegment;
    const std::uint32_t level0 = m_header.level0Length;
    const std::uint32_t fill = g_imageMemory.FillMark(segment);

    Log(FormatText("Send BOOTLOAD (Level 0) !    ==> %d Bytes", static_cast<int>(level0)));
    m_link.WriteImageBytes(segment, 0, level0);
    Log(FormatText("Send BOOTLOAD (Level 1) !    ==> %d Byte",
                   static_cast<int>(fill) - static_cast<int>(level0) + 1));
    m_link.WriteImageBytes(segment, level0, fill + 1);

    // Exactly the acknowledge: the RAM test report may follow right behind it.
    const bool ok = ExpectByte(m_header.loaderAck, false);
    if (PollAborted()) {
        return false;
    }
    if (!ok) {
        EndFailed();
    }
    return ok;
}

bool InitializeJob::RamTest() {
    Log("RAM test started.");
    bool ok = false;
    if (!m_link.WaitForResponse(kRamTestTimeoutMs, kRamReportLength, true)) {
        LogNoResponse();
    } else {
        const std::uint8_t* r = m_link.buffer();
        if (r[0] != kRamReportMarker) {
            LogWrongAnswer(kRamReportMarker, r[0]);
        } else if (r[1] == 0xFF && r[2] == 0xFF && r[3] == 0xFF && r[4] == 0xFF && r[5] == 0xFF &&
                   r[6] == 0xFF && r[7] == kRamTestPassed) {
            Log("RAM test successful!");
            ok = true;
        } else {
            Log(FormatText(
                "RAM test failed at address: 0x%02X%02X.%02X%02X  Set: 0x%02X <> 0x%02X :Act!",
                unsigned{r[4]}, unsigned{r[3]}, unsigned{r[2]}, unsigned{r[1]}, unsigned{r[6]},
                unsigned{r[5]}));
        }
    }
    if (PollAborted()) {
        return false;
    }
    if (!ok) {
        EndFailed();
    }
    return ok;
}

bool InitializeJob::SendMonitor() {
    const int segment = m_header.monitorSegment;
    const std::uint32_t length = std::uint32_t{g_imageMemory.FillMark(segment)} + 1;  // 1..65536
    Log(FormatText("Send Monitor  (Level 2) !   ==> %d Byte", static_cast<int>(length)));

    // Start, length announcement (low byte, high byte), each answered by its echo. After each
    // of these four the job polls, whether the byte came back right or not.
    const std::uint8_t opening[] = {kMonitorStart, kMonitorLength,
                                    static_cast<std::uint8_t>(length & 0xFF),
                                    static_cast<std::uint8_t>((length >> 8) & 0xFF)};
    for (const std::uint8_t byte : opening) {
        const bool ok = ExchangeByte(byte, byte);
        if (PollAborted()) {
            return false;
        }
        if (!ok) {
            EndFailed();
            return false;
        }
    }
    // From here on a failure ends the job without a poll.
    if (!ExchangeByte(kMonitorData, kMonitorData)) {
        EndFailed();
        return false;
    }
    const std::uint8_t* monitor = g_imageMemory.SegmentData(segment);
    for (std::uint32_t k = 0; k < length; ++k) {
        if (PollAborted()) {
            return false;
        }
        m_link.WriteBytes(&monitor[k], 1);
        if (!m_link.WaitForResponse(kEchoTimeoutMs, 1, false)) {
            LogNoResponse();
            EndFailed();
            return false;
        }
        if (m_link.buffer()[0] != monitor[k]) {
            LogWrongAnswer(monitor[k], m_link.buffer()[0]);
            EndFailed();
            return false;
        }
        ReportProgress(ProgressPhase::kMonitorUpload, k + 1, length, k + 1 == length);
    }
    if (!ExpectByte(kMonitorRunning)) {
        EndFailed();
        return false;
    }
    return true;
}
