#include "link/initialize_job.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <utility>

#include "helpers/text_format.h"

namespace quillon {

namespace {

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
    EndAborted();
    return true;
}

bool InitializeJob::ExpectByte(std::uint8_t expected, bool readAll) {
    if (!line().WaitForResponse(m_timeouts.handshakeMs, 1, readAll)) {
        m_failureReason = FailureReason::kNoAnswer;
        m_failureLine = LogNoResponse();
        return false;
    }
    if (line().buffer()[0] != expected) {
        m_failureReason = FailureReason::kWrongAnswer;
        m_failureLine = LogWrongAnswer(expected, line().buffer()[0]);
        return false;
    }
    return true;
}

bool InitializeJob::Sent(const Status& write) {
    if (!write) {
        m_failureReason = FailureReason::kLineLost;
        m_failureLine = LogLineLost(write.error());
    }
    return write.has_value();
}

bool InitializeJob::ExchangeByte(std::uint8_t byte, std::uint8_t expected) {
    return Sent(line().WriteBytes(&byte, 1)) && ExpectByte(expected);
}

void InitializeJob::Run() {
    if (OpenPort() && ReadMonitorFile() && TakeHeader() && Handshake() && SendLoader() &&
        RamTest() && SendMonitor()) {
        Log("Monitor started!");
        m_session.header = m_monitor.header;
        EndSucceeded();
    }
}

bool InitializeJob::OpenPort() {
    // The port still held from the last job is closed first; a monitor is only ever started
    // anew on it.
    m_session.channel.reset();
    m_session.header.reset();
    OpenedChannel opened = m_opener(m_lineSettings);
    m_session.channel = std::move(opened.channel);  // kept open even when it refused settings
    std::string failure;
    switch (opened.status) {
        case OpenedChannel::Status::kCannotOpen:
            m_failureReason = FailureReason::kPortUnavailable;
            failure = "Unable to open COM port!";
            break;
        case OpenedChannel::Status::kCannotConfigure:
            m_failureReason = FailureReason::kPortSettings;
            failure = "Error initializing COM port!";
            break;
        case OpenedChannel::Status::kOpened:
            Log(FormatText("%s initialized.", m_lineSettings.port.c_str()));
            if (!opened.notice.empty()) {
                Log(opened.notice);
            }
            break;
    }
    if (!failure.empty()) {
        Log(failure);
        m_failureLine = failure;
        if (!opened.reason.empty()) {
            m_failureDetail = m_lineSettings.port + ": " + opened.reason;
        }
    }
    if (PollAborted()) {
        return false;
    }
    if (!failure.empty()) {
        EndWithStepFailure();
        return false;
    }
    m_session.port = m_lineSettings.port;
    m_session.baud = m_lineSettings.baud;
    UseChannel(*m_session.channel, m_session.port);
    line().DiscardInput();  // whatever waited before the job is stale
    return true;
}

bool InitializeJob::ReadMonitorFile() {
    MonitorFileRead read = LoadMonitorFile(m_request.monitorFile, StopCheckForReads());
    ShowReaderMessages(m_request.monitorFile, read.read);
    if (!read.read) {
        if (!PollAborted()) {
            EndFailed(FailureReason::kFileUnreadable, read.read.error().text);
        }
        return false;
    }
    switch (read.status) {
        case MonitorHeaderStatus::kNoSignature:
            m_failureReason = FailureReason::kNoMonitorHeader;
            m_failureLine = "Invalid monitor file!\nNo specification found.";
            break;
        case MonitorHeaderStatus::kIncompatible:
            m_failureReason = FailureReason::kIncompatibleMonitor;
            m_failureLine = "Invalid monitor file!\nIncompatible specification.";
            break;
        case MonitorHeaderStatus::kAccepted:
            m_monitor = std::move(*read.file);
            break;
    }
    return true;
}

bool InitializeJob::TakeHeader() {
    const bool accepted = m_failureReason == FailureReason::kNone;
    if (!accepted) {
        Log(m_failureLine);
    }
    if (PollAborted()) {
        return false;
    }
    if (!accepted) {
        EndWithStepFailure();
    }
    return accepted;
}

bool InitializeJob::Handshake() {
    Log("---------------------------------------");
    const bool ok = ExchangeByte(m_monitor.header.syncByte, m_monitor.header.identByte);
    if (PollAborted()) {
        return false;
    }
    if (!ok) {
        EndWithStepFailure();
    }
    return ok;
}

bool InitializeJob::SendLoader() {
    const MonitorHeader& header = m_monitor.header;
    const int segment = header.loaderSegment;
    const std::uint32_t level0 = header.level0Length;
    const std::uint32_t fill = m_monitor.image.FillMark(segment);
    const std::uint8_t* loader = m_monitor.image.SegmentData(segment);

    Log(FormatText("Send BOOTLOAD (Level 0) !    ==> %d Bytes", static_cast<int>(level0)));
    bool ok = Sent(line().WriteEachByte(loader, std::min(level0, HexImage::kSegmentSize)));
    if (ok) {
        Log(FormatText("Send BOOTLOAD (Level 1) !    ==> %d Byte",
                       static_cast<int>(fill) - static_cast<int>(level0) + 1));
        if (level0 <= fill) {
            ok = Sent(line().WriteEachByte(loader + level0, fill + 1 - level0));
        }
    }
    // Exactly the acknowledge: the RAM test report may follow right behind it.
    ok = ok && ExpectByte(header.loaderAck, false);
    if (PollAborted()) {
        return false;
    }
    if (!ok) {
        EndWithStepFailure();
    }
    return ok;
}

bool InitializeJob::RamTest() {
    Log("RAM test started.");
    bool ok = false;
    if (!line().WaitForResponse(m_timeouts.ramTestMs, kRamReportLength, true)) {
        m_failureReason = FailureReason::kNoAnswer;
        m_failureLine = LogNoResponse();
    } else {
        const std::uint8_t* r = line().buffer();
        if (r[0] != kRamReportMarker) {
            m_failureReason = FailureReason::kWrongAnswer;
            m_failureLine = LogWrongAnswer(kRamReportMarker, r[0]);
        } else if (r[1] == 0xFF && r[2] == 0xFF && r[3] == 0xFF && r[4] == 0xFF && r[5] == 0xFF &&
                   r[6] == 0xFF && r[7] == kRamTestPassed) {
            Log("RAM test successful!");
            ok = true;
        } else {
            m_failureReason = FailureReason::kRamTestFailed;
            m_failureLine = FormatText(
                "RAM test failed at address: 0x%02X%02X.%02X%02X  Set: 0x%02X <> 0x%02X :Act!",
                unsigned{r[4]}, unsigned{r[3]}, unsigned{r[2]}, unsigned{r[1]}, unsigned{r[6]},
                unsigned{r[5]});
            Log(m_failureLine);
        }
    }
    if (PollAborted()) {
        return false;
    }
    if (!ok) {
        EndWithStepFailure();
    }
    return ok;
}

bool InitializeJob::SendMonitor() {
    const int segment = m_monitor.header.monitorSegment;
    const std::uint32_t length = std::uint32_t{m_monitor.image.FillMark(segment)} + 1;  // 1..65536
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
            EndWithStepFailure();
            return false;
        }
    }
    // From here on a failure ends the job without a poll.
    if (!ExchangeByte(kMonitorData, kMonitorData)) {
        EndWithStepFailure();
        return false;
    }
    if (!SendMonitorData(m_monitor.image.SegmentData(segment), length)) {
        return false;
    }
    if (!ExpectByte(kMonitorRunning)) {
        EndWithStepFailure();
        return false;
    }
    return true;
}

// How far the monitor's bytes are written and echoed, and the writes not yet wholly echoed. A
// byte's echo is due within the echo time-out from the moment the byte can have left the wire:
// its write's time plus the wire time of the bytes queued before it (those of earlier writes
// still on their way, and the ones before it in its own write). Bytes whose echoes came have
// left; in lock step nothing waits before a byte, and its time-out counts from its write.
struct InitializeJob::EchoUpload {
    struct Write {
        std::uint32_t first;
        std::uint32_t end;
        std::uint64_t atMs;
        double queuedUs;  // the wire time of what was still on its way before the write
    };

    // `byteUs`: a byte's time on the wire.
    explicit EchoUpload(double byteUs_) : byteUs(byteUs_) {}

    // The bytes from `sent` up to `end` went out in one write at `nowMs`.
    void Wrote(std::uint32_t end, std::uint64_t nowMs) {
        const double nowUs = static_cast<double>(nowMs) * 1000;
        const double unconfirmedUs = (sent - confirmed) * byteUs;
        const double queuedUs = std::clamp(wireFreeUs - nowUs, 0.0, unconfirmedUs);
        writes.push_back({sent, end, nowMs, queuedUs});
        wireFreeUs = nowUs + queuedUs + (end - sent) * byteUs;
        sent = end;
    }

    // When the echo of the oldest byte not yet confirmed is due at the latest.
    std::uint64_t EchoDueMs(std::uint32_t echoTimeoutMs) {
        while (writes.front().end <= confirmed) {
            writes.pop_front();
        }
        const Write& oldest = writes.front();
        const double leftAfterUs = oldest.queuedUs + (confirmed - oldest.first) * byteUs;
        return oldest.atMs + static_cast<std::uint64_t>(std::ceil(leftAfterUs / 1000)) +
               echoTimeoutMs;
    }

    double byteUs;
    std::uint32_t sent = 0;
    std::uint32_t confirmed = 0;
    std::deque<Write> writes;
    double wireFreeUs = 0;  // when the bytes written so far have all left, from the clock's 0
};

bool InitializeJob::SendMonitorData(const std::uint8_t* monitor, std::uint32_t length) {
    // A window built by hand rather than parsed still stays within what the line's buffer holds.
    const std::uint32_t window = std::clamp<std::uint32_t>(
        m_request.echoWindow.bytes, EchoWindow::kLockStep, EchoWindow::kLargest);
    // A byte's time on the wire at the job's baud rate: a start bit, 8 data bits, a stop bit.
    EchoUpload upload(1.0e7 / std::max<std::uint32_t>(m_lineSettings.baud.bitsPerSecond, 1));
    // A pass reads the echoes that have arrived, checks each against its byte in order, and
    // writes as many bytes as the window then allows, in one write. The wait in between asks
    // for the echoes of half the window, so one wake-up serves several bytes while the rest
    // keep the line busy. With a window of 1 this is lock step: one byte, its echo, the next.
    while (upload.confirmed < length) {
        if (upload.sent < length && upload.sent - upload.confirmed < window) {
            // No byte goes out once a stop was asked for.
            if (PollAborted()) {
                return false;
            }
            const std::uint32_t end = std::min(length, upload.confirmed + window);
            if (!Sent(line().WriteBytes(monitor + upload.sent, end - upload.sent))) {
                EndWithStepFailure();
                return false;
            }
            upload.Wrote(end, m_clock.NowMs());
        }
        const std::uint32_t waiting = upload.sent - upload.confirmed;
        const std::size_t got =
            line().ReadArrived(upload.EchoDueMs(m_timeouts.echoMs),
                               std::min(waiting, std::max(window / 2, 1u)), waiting);
        if (got == 0) {
            m_failureReason = FailureReason::kNoAnswer;
            m_failureLine = LogNoResponse();
            EndWithStepFailure();
            return false;
        }
        for (std::size_t i = 0; i < got; ++i, ++upload.confirmed) {
            if (line().buffer()[i] != monitor[upload.confirmed]) {
                m_failureReason = FailureReason::kWrongAnswer;
                m_failureLine = LogWrongAnswer(monitor[upload.confirmed], line().buffer()[i]);
                EndWithStepFailure();
                return false;
            }
        }
        ReportProgress(ProgressPhase::kMonitorUpload, upload.confirmed, length,
                       upload.confirmed == length);
    }
    return true;
}

}  // namespace quillon
