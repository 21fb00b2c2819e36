#include "sim/target_model.h"

#include <algorithm>
#include <cstdio>

#include "sim/sim_crc16.h"

namespace quillon {

namespace {

constexpr std::size_t kEraseFrameLength = 8;
constexpr std::size_t kBlockFrameLength = 141;
constexpr std::size_t kFinalizeFrameLength = 7;
constexpr std::size_t kBlockDataLength = 128;
constexpr char kFinalizeArgument[] = "     0";
constexpr char kUnknownFlashType[] = "????";

std::string Hex(unsigned long value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*lX", digits, value);
    return text;
}

std::string ByteText(std::uint8_t value) {
    return "0x" + Hex(value, 2);
}

// Reads `digits` upper-case hexadecimal digits, as the frames carry them; -1 on anything else.
long ParseHex(const std::vector<std::uint8_t>& frame, std::size_t at, std::size_t digits) {
    long value = 0;
    for (std::size_t i = at; i < at + digits; ++i) {
        const std::uint8_t c = frame[i];
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0) {
            return -1;
        }
        value = value * 16 + digit;
    }
    return value;
}

std::chrono::milliseconds Ms(int ms) {
    return std::chrono::milliseconds(ms);
}

}  // namespace

TargetModel::TargetModel(SimMonitorFile file, TargetSettings settings)
    : m_file(std::move(file)), m_settings(std::move(settings)), m_flash(m_settings.blankFlash) {}

std::string TargetModel::reportedFlashType() const {
    if (!m_settings.flashType.empty()) {
        return m_settings.flashType;
    }
    return m_file.flashTypes.empty() ? std::string() : m_file.flashTypes.front();
}

bool TargetModel::FaultsActive() const {
    const int session = m_record.sessions.empty() || m_state == State::kWaitSync
                            ? static_cast<int>(m_record.sessions.size()) + 1
                            : m_record.sessions.back().number;
    return m_settings.faults.session == 0 || m_settings.faults.session == session;
}

void TargetModel::Start(SimClock::time_point now) {
    m_lastActivity = now;
    EmitNoise(now);
}

void TargetModel::EmitNoise(SimClock::time_point now) {
    const FaultPlan& faults = m_settings.faults;
    if (faults.noiseBytes <= 0 || faults.noiseWhen != FaultPlan::NoiseWhen::kIdle ||
        !FaultsActive()) {
        return;
    }
    std::vector<std::uint8_t> noise;
    for (int i = 0; i < faults.noiseBytes; ++i) {
        auto b = static_cast<std::uint8_t>(0x3F + 37 * i);
        noise.push_back(b == m_file.identByte ? static_cast<std::uint8_t>(~b) : b);
    }
    m_emissions.push_back({std::max(now, m_lastDue), noise, false});
    Injected({SimStage::kIdent, -1}, "noise",
             std::to_string(faults.noiseBytes) + " noise bytes while waiting for the sync byte");
}

std::vector<SimEmission> TargetModel::TakeEmissions() {
    std::vector<SimEmission> taken;
    taken.swap(m_emissions);
    return taken;
}

void TargetModel::StartSession(SimClock::time_point now) {
    SessionRecord session;
    session.number = static_cast<int>(m_record.sessions.size()) + 1;
    session.loaderExpected = m_file.loader.size();
    session.monitorExpected = m_file.monitor.size();
    m_record.sessions.push_back(session);
    m_silent = false;
    m_hungUp = false;
    m_eraseCount = m_blockCount = m_finalizeCount = 0;
    m_lastBlockAccepted = false;
    m_lastBlockIndex = -1;
    m_dropped.clear();
    m_lateStruck.clear();
    m_splitStruck.clear();
    m_frame.clear();
    m_lastActivity = now;
}

void TargetModel::EndSession(const std::string& reason, SimClock::time_point now) {
    if (m_state != State::kWaitSync && !m_record.sessions.empty()) {
        Session().endedBy = reason;
        ++m_sessionsEnded;
    }
    m_state = State::kWaitSync;
    m_frame.clear();
    if (reason != "sync") {
        EmitNoise(now);
    }
}

void TargetModel::MarkStage(SimStage stage) {
    auto& reached = Session().stagesReached;
    if (std::find(reached.begin(), reached.end(), stage) == reached.end()) {
        reached.push_back(stage);
    }
}

void TargetModel::Seen(SimStage stage, const std::string& kind, const std::string& detail) {
    const int session = m_record.sessions.empty() ? 0 : Session().number;
    m_record.faultsSeen.push_back({session, SimStageName(stage), kind, detail});
}

void TargetModel::Injected(const StageSelector& at, const std::string& kind,
                           const std::string& detail) {
    const int session = m_state == State::kWaitSync || m_record.sessions.empty()
                            ? static_cast<int>(m_record.sessions.size()) + 1
                            : Session().number;
    m_record.faultsInjected.push_back({session, at.Text(), kind, detail});
}

namespace {

// Whether answer `index` of `stage` comes, in time, at or after `from`. The stages follow one
// another in a session, except that the two answers to each erase command interleave: erase
// k, erase-done k, erase k + 1, ...
bool ReachedInTime(SimStage stage, int index, const StageSelector& from) {
    const auto isErase = [](SimStage s) {
        return s == SimStage::kErase || s == SimStage::kEraseDone;
    };
    if (isErase(stage) && isErase(from.stage)) {
        const int fromIndex = std::max(from.index, 0);
        if (index != fromIndex) {
            return index > fromIndex;
        }
        return stage >= from.stage;
    }
    return stage > from.stage || (stage == from.stage && index >= from.index);
}

}  // namespace

const FaultPlan::Delay* TargetModel::TimingFault(const std::vector<FaultPlan::Delay>& delays,
                                                 std::set<std::pair<int, int>>& struck,
                                                 SimStage stage, int index) {
    if (!FaultsActive() || struck.count({static_cast<int>(stage), index}) != 0) {
        return nullptr;
    }
    for (const FaultPlan::Delay& delay : delays) {
        if (delay.at.Matches(stage, index)) {
            struck.insert({static_cast<int>(stage), index});
            return &delay;
        }
    }
    return nullptr;
}

SimClock::time_point TargetModel::Deliver(SimStage stage, int index, SimClock::time_point at,
                                          std::vector<std::uint8_t> bytes, bool busy) {
    at = std::max(at, m_lastDue);
    if (FaultsActive()) {
        const FaultPlan& faults = m_settings.faults;
        const StageSelector here{stage, index};
        if (m_silent || m_hungUp) {
            return at;
        }
        if (faults.silentFrom) {
            const StageSelector& from = *faults.silentFrom;
            if (ReachedInTime(stage, index, from)) {
                m_silent = true;
                Injected(here, "silence", "no answer from " + from.Text() + " on");
                return at;
            }
        }
        if (faults.hangupAt && faults.hangupAt->Matches(stage, index)) {
            m_hungUp = true;
            m_lastActivity = std::max(m_lastActivity, at);
            m_emissions.push_back({at, {}, true});
            Injected(here, "hangup", "line closed instead of answering");
            return at;
        }
    }
    const StageSelector here{stage, index};
    if (const FaultPlan::Delay* late =
            TimingFault(m_settings.faults.lateAnswer, m_lateStruck, stage, index)) {
        at += Ms(late->ms);
        Injected(here, "late-answer",
                 "held back " + std::to_string(late->ms) + " ms with everything after it");
    }
    m_lastActivity = std::max(m_lastActivity, at);
    m_lastDue = at;
    const FaultPlan::Delay* split =
        busy ? nullptr : TimingFault(m_settings.faults.splitAnswer, m_splitStruck, stage, index);
    if (split != nullptr && split->firstBytes < bytes.size()) {
        const auto cut = bytes.begin() + static_cast<std::ptrdiff_t>(split->firstBytes);
        m_lastDue = at + Ms(split->ms);
        m_emissions.push_back({at, std::vector<std::uint8_t>(bytes.begin(), cut), false});
        m_emissions.push_back({m_lastDue, std::vector<std::uint8_t>(cut, bytes.end()), false});
        Injected(here, "split-answer",
                 "first " + std::to_string(split->firstBytes) + " of " +
                     std::to_string(bytes.size()) + " bytes, the rest " +
                     std::to_string(split->ms) + " ms later");
        return at;
    }
    m_emissions.push_back({at, std::move(bytes), false});
    return at;
}

TargetModel::AnswerPlan TargetModel::PlanAnswer(SimStage stage, int index) {
    AnswerPlan plan;
    if (!FaultsActive()) {
        return plan;
    }
    const FaultPlan& faults = m_settings.faults;
    const StageSelector here{stage, index};
    for (const StageSelector& at : faults.crcErrorAt) {
        if (at.Matches(stage, index)) {
            plan.refuse = true;
            plan.code = 'C';
            Injected(here, "crc-error", "answered E C");
            return plan;
        }
    }
    for (const FaultPlan::ErrorAnswer& error : faults.errorAt) {
        if (error.at.Matches(stage, index)) {
            plan.refuse = true;
            plan.code = static_cast<std::uint8_t>(error.code);
            Injected(here, "error", std::string("answered E ") + error.code);
            return plan;
        }
    }
    for (const FaultPlan::Repeat& drop : faults.dropAnswer) {
        int& dropped = m_dropped[{static_cast<int>(stage), index}];
        if (drop.at.Matches(stage, index) && dropped < drop.count) {
            ++dropped;
            plan.drop = true;
            Injected(here, "drop-answer",
                     "answer swallowed (" + std::to_string(dropped) + " of " +
                         std::to_string(drop.count) + ")");
            return plan;
        }
    }
    for (const FaultPlan::Repeat& busy : faults.busy) {
        if (busy.at.Matches(stage, index)) {
            plan.busy = busy.count;
            Injected(here, "busy", std::to_string(busy.count) + " D answers first");
        }
    }
    return plan;
}

void TargetModel::DeliverAfterBusy(SimStage stage, int index, int busy, SimClock::time_point at,
                                   std::vector<std::uint8_t> answer) {
    for (int i = 0; i < busy; ++i) {
        at = Deliver(stage, index, at, Answer('D', ""), true) + Ms(m_settings.busyIntervalMs);
    }
    Deliver(stage, index, at, std::move(answer));
}

std::vector<std::uint8_t> TargetModel::Answer(char letter, const std::string& detail) const {
    std::vector<std::uint8_t> answer(7, ' ');
    answer[0] = static_cast<std::uint8_t>(letter);
    for (std::size_t i = 0; i < detail.size() && i < 6; ++i) {
        answer[i + 1] = static_cast<std::uint8_t>(detail[i]);
    }
    return answer;
}

std::vector<std::uint8_t> TargetModel::ErrorAnswer(std::uint8_t code) const {
    return Answer('E', std::string(1, static_cast<char>(code)));
}

void TargetModel::Receive(std::uint8_t byte, SimClock::time_point now) {
    const bool takingMonitor = m_state == State::kMonitorLoad || m_state == State::kMonitorData;
    if (m_settings.rxUs <= 0 || !takingMonitor) {
        Dispatch(byte, now);
        return;
    }
    // The bytes the loader has taken by now have left the buffer.
    while (!m_rxTakes.empty() && m_rxTakes.front() <= now) {
        m_rxTakes.pop_front();
    }
    if (m_rxTakes.size() >= static_cast<std::size_t>(std::max(m_settings.rxFifo, 1))) {
        ++Session().overruns;
        ++m_record.overruns;
        return;
    }
    const SimClock::time_point take = std::max(now, m_rxNextTake);
    m_rxTakes.push_back(take);
    m_rxNextTake = take + std::chrono::microseconds(m_settings.rxUs);
    Dispatch(byte, take);
}

void TargetModel::AnswerSync(SimClock::time_point now) {
    const FaultPlan& faults = m_settings.faults;
    std::vector<std::uint8_t> answer;
    if (FaultsActive() && faults.noiseBytes > 0 &&
        faults.noiseWhen == FaultPlan::NoiseWhen::kBeforeIdent) {
        for (int i = 0; i < faults.noiseBytes; ++i) {
            const auto b = static_cast<std::uint8_t>(0x3F + 37 * i);
            answer.push_back(b == m_file.identByte ? static_cast<std::uint8_t>(~b) : b);
        }
        Injected({SimStage::kIdent, 0}, "noise",
                 std::to_string(faults.noiseBytes) + " noise bytes before the ident byte");
    }
    std::uint8_t ident = m_file.identByte;
    if (FaultsActive() && faults.wrongIdent) {
        ident = *faults.wrongIdent;
        Injected({SimStage::kIdent, 0}, "wrong-ident", "answered " + ByteText(ident));
    }
    answer.push_back(ident);
    Deliver(SimStage::kIdent, 0, now, answer);
}

void TargetModel::Dispatch(std::uint8_t byte, SimClock::time_point now) {
    const bool inHandshake = m_state == State::kLoader || m_state == State::kMonitorLoad ||
                             m_state == State::kMonitorData || m_state == State::kFailed;
    if (inHandshake && now - m_lastActivity > Ms(m_settings.stallResetMs)) {
        EndSession("stall", now);
    }
    m_lastActivity = std::max(m_lastActivity, now);
    switch (m_state) {
        case State::kWaitSync:
            if (byte != m_file.syncByte && m_monitorRunning &&
                (byte == 'P' || byte == 'V' || byte == 'F')) {
                // The next download to the monitor that is still running: a session of its own.
                StartSession(now);
                Session().monitorStarted = true;
                m_state = State::kCommand;
                ReceiveCommand(byte, now);
                return;
            }
            if (byte != m_file.syncByte) {
                ++m_record.noiseIgnored;
                return;
            }
            m_monitorRunning = false;
            StartSession(now);
            MarkStage(SimStage::kIdent);
            m_state = State::kLoader;
            AnswerSync(now);
            return;
        case State::kLoader:
            ReceiveLoader(byte, now);
            return;
        case State::kMonitorLoad:
            ReceiveMonitorLoad(byte, now);
            return;
        case State::kMonitorData:
            ReceiveMonitorData(byte, now);
            return;
        case State::kFailed:
            ++m_record.noiseIgnored;
            return;
        case State::kCommand:
            ReceiveCommand(byte, now);
            return;
    }
}

std::size_t TargetModel::SilentBytesAhead(
    std::size_t count, const std::function<SimClock::time_point(std::size_t)>& arrival) const {
    // Which bytes are still to come before the one that may bring an answer, and which pause
    // would end the silence (see Receive() and ReceiveCommand()).
    std::size_t ahead = 0;
    SimClock::time_point last{};
    SimClock::duration gap{};
    if (m_state == State::kCommand && !m_frame.empty() && m_frame.size() < m_frameLength) {
        ahead = m_frameLength - m_frame.size() - 1;
        last = m_lastFrameByte;
        gap = Ms(m_settings.frameGapMs);
    } else if (m_state == State::kLoader &&
               m_record.sessions.back().loaderReceived + 1 < m_file.loader.size()) {
        ahead = m_file.loader.size() - m_record.sessions.back().loaderReceived - 1;
        last = m_lastActivity;
        gap = Ms(m_settings.stallResetMs);
    }
    std::size_t silent = 0;
    for (; silent < std::min(ahead, count) && arrival(silent) - last <= gap; ++silent) {
        last = arrival(silent);
    }
    return silent;
}

void TargetModel::ReceiveLoader(std::uint8_t byte, SimClock::time_point now) {
    SessionRecord& session = Session();
    const std::size_t at = session.loaderReceived++;
    if (session.loaderMismatchAt < 0 && byte != m_file.loader[at]) {
        session.loaderMismatchAt = static_cast<long>(at);
    }
    if (session.loaderReceived < m_file.loader.size()) {
        return;
    }
    MarkStage(SimStage::kLoaderAck);
    if (session.loaderMismatchAt >= 0) {
        // A loader that arrived corrupted does not run: the target stays silent.
        const long offset = session.loaderMismatchAt;
        Seen(SimStage::kLoaderAck, "loader-mismatch",
             "loader byte " + std::to_string(offset) + " was " +
                 ByteText(m_file.loader[static_cast<std::size_t>(offset)]) +
                 " in the monitor file but arrived different");
        m_state = State::kFailed;
        return;
    }
    const FaultPlan& faults = m_settings.faults;
    std::uint8_t ack = m_file.loaderAck;
    if (FaultsActive() && faults.wrongLoaderAck) {
        ack = *faults.wrongLoaderAck;
        Injected({SimStage::kLoaderAck, 0}, "wrong-loader-ack", "answered " + ByteText(ack));
    }
    Deliver(SimStage::kLoaderAck, 0, now, {ack});

    std::vector<std::uint8_t> report = {0xAA, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x03};
    if (FaultsActive() && faults.ramFailure) {
        const FaultPlan::RamFailure& failure = *faults.ramFailure;
        for (int i = 0; i < 4; ++i) {
            report[1 + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(failure.address >> (8 * i));
        }
        report[5] = failure.readBack;
        report[6] = failure.written;
        report[7] = 0x01;
        Injected({SimStage::kRamReport, 0}, "ram-failure",
                 "cell 0x" + Hex(failure.address, 8) + " written " + ByteText(failure.written) +
                     ", read back " + ByteText(failure.readBack));
    }
    if (FaultsActive() && faults.ramMarker) {
        report[0] = *faults.ramMarker;
        Injected({SimStage::kRamReport, 0}, "ram-marker", "report marker " + ByteText(report[0]));
    }
    MarkStage(SimStage::kRamReport);
    Deliver(SimStage::kRamReport, 0, now + Ms(m_settings.ramTestMs), report);
    m_state = State::kMonitorLoad;
    m_rxTakes.clear();
    m_rxNextTake = now;
    m_loadRow = 0;
    m_announcedLength = 0;
}

void TargetModel::ReceiveMonitorLoad(std::uint8_t byte, SimClock::time_point now) {
    MarkStage(SimStage::kMonitorLoad);
    const int row = m_loadRow++;
    Deliver(SimStage::kMonitorLoad, row, now, {byte});
    static constexpr std::uint8_t kControl[] = {0x02, 0x10, 0, 0, 0x03};
    if (row == 2) {
        m_announcedLength = byte;
    } else if (row == 3) {
        m_announcedLength |= static_cast<long>(byte) << 8;
        if (m_announcedLength == 0) {
            m_announcedLength = 0x10000;
        }
        Session().monitorAnnounced = m_announcedLength;
    } else if (byte != kControl[row]) {
        Seen(SimStage::kMonitorLoad, "monitor-load",
             "expected " + ByteText(kControl[row]) + ", received " + ByteText(byte));
        m_state = State::kFailed;
        return;
    }
    if (row == 4) {
        if (static_cast<std::size_t>(m_announcedLength) != m_file.monitor.size()) {
            Seen(SimStage::kMonitorLoad, "monitor-length",
                 "announced " + std::to_string(m_announcedLength) + " bytes, the monitor has " +
                     std::to_string(m_file.monitor.size()));
        }
        m_state = State::kMonitorData;
        m_dataIndex = 0;
    }
}

void TargetModel::ReceiveMonitorData(std::uint8_t byte, SimClock::time_point now) {
    MarkStage(SimStage::kMonitorData);
    SessionRecord& session = Session();
    const std::size_t k = m_dataIndex++;
    session.monitorReceived = m_dataIndex;
    if (session.monitorMismatchAt < 0 &&
        (k >= m_file.monitor.size() || byte != m_file.monitor[k])) {
        session.monitorMismatchAt = static_cast<long>(k);
    }
    std::uint8_t echo = byte;
    const FaultPlan& faults = m_settings.faults;
    if (FaultsActive() && faults.wrongEchoAt && *faults.wrongEchoAt == static_cast<long>(k)) {
        echo = static_cast<std::uint8_t>(~byte);
        Injected({SimStage::kMonitorData, static_cast<int>(k)}, "wrong-echo",
                 "echoed " + ByteText(echo) + " for " + ByteText(byte));
    }
    Deliver(SimStage::kMonitorData, static_cast<int>(k), now, {echo});
    if (m_dataIndex < static_cast<std::size_t>(m_announcedLength)) {
        return;
    }
    MarkStage(SimStage::kMonitorStarted);
    if (session.monitorMismatchAt >= 0 || m_dataIndex != m_file.monitor.size()) {
        Seen(SimStage::kMonitorStarted, "monitor-mismatch",
             session.monitorMismatchAt >= 0
                 ? "monitor byte " + std::to_string(session.monitorMismatchAt) +
                       " differs from the monitor file"
                 : "the monitor arrived with the wrong length");
        m_state = State::kFailed;
        return;
    }
    session.monitorStarted = true;
    Deliver(SimStage::kMonitorStarted, 0, now, {0x11});
    m_state = State::kCommand;
    m_monitorRunning = true;
}

void TargetModel::ReceiveCommand(std::uint8_t byte, SimClock::time_point now) {
    if (!m_frame.empty() && now - m_lastFrameByte > Ms(m_settings.frameGapMs)) {
        Seen(m_frame[0] == 'P' ? SimStage::kErase
                               : (m_frame[0] == 'V' ? SimStage::kBlock : SimStage::kFinalize),
             "short-frame",
             "a frame starting with '" + std::string(1, static_cast<char>(m_frame[0])) +
                 "' stopped after " + std::to_string(m_frame.size()) + " of " +
                 std::to_string(m_frameLength) + " bytes; dropped");
        m_frame.clear();
    }
    m_lastFrameByte = now;
    if (m_frame.empty()) {
        switch (byte) {
            case 'P':
                m_frameLength = kEraseFrameLength;
                break;
            case 'V':
                m_frameLength = kBlockFrameLength;
                break;
            case 'F':
                m_frameLength = kFinalizeFrameLength;
                break;
            default:
                if (byte == m_file.syncByte) {
                    // The operator reset the target and a new Initialize begins.
                    EndSession("sync", now);
                    Receive(byte, now);
                } else {
                    ++m_record.noiseIgnored;
                }
                return;
        }
    }
    m_frame.push_back(byte);
    if (m_frame.size() < m_frameLength) {
        return;
    }
    if (m_frame[0] == 'P') {
        HandleErase(now);
    } else if (m_frame[0] == 'V') {
        HandleBlock(now);
    } else {
        HandleFinalize(now);
    }
    m_frame.clear();
}

void TargetModel::RefuseFrame(SimStage stage, int index, const std::string& detail,
                              SimClock::time_point now) {
    Seen(stage, "bad-frame", detail);
    Deliver(stage, index, now, ErrorAnswer('A'));
}

bool TargetModel::CheckCrc(SimStage stage, int index, std::size_t covered,
                           SimClock::time_point now) {
    const long received = ParseHex(m_frame, covered, 4);
    const std::uint16_t computed = SimCrc16(m_frame.data(), covered);
    if (received == static_cast<long>(computed)) {
        return true;
    }
    const std::string receivedText(m_frame.begin() + static_cast<std::ptrdiff_t>(covered),
                                   m_frame.begin() + static_cast<std::ptrdiff_t>(covered + 4));
    Seen(stage, "crc", "frame CRC \"" + receivedText + "\", computed " + SimCrcText(computed));
    Deliver(stage, index, now, ErrorAnswer('C'));
    return false;
}

void TargetModel::HandleErase(SimClock::time_point now) {
    m_lastBlockAccepted = false;
    const int index = m_eraseCount++;
    MarkStage(SimStage::kErase);
    if (!CheckCrc(SimStage::kErase, index, 4, now)) {
        return;
    }
    const long sector = ParseHex(m_frame, 2, 2);
    if (m_frame[1] != '2' || sector < 0) {
        RefuseFrame(SimStage::kErase, index,
                    "erase frame \"" + std::string(m_frame.begin(), m_frame.begin() + 4) +
                        "\" does not name a sector",
                    now);
        return;
    }
    const AnswerPlan first = PlanAnswer(SimStage::kErase, index);
    if (first.refuse) {
        Deliver(SimStage::kErase, index, now, ErrorAnswer(first.code));
        return;
    }
    std::string flashType = reportedFlashType();
    if (FaultsActive() && m_settings.faults.unknownFlashType) {
        flashType = kUnknownFlashType;
        Injected({SimStage::kErase, index}, "unknown-flash-type", "reported " + flashType);
    }
    std::vector<std::uint8_t> answer = Answer(m_settings.acceptLetter, "");
    for (std::size_t i = 0; i < 4; ++i) {
        answer[1 + i] = i < flashType.size() ? static_cast<std::uint8_t>(flashType[i]) : 0;
    }
    const std::string sectorText = Hex(static_cast<unsigned long>(sector), 2);
    answer[5] = static_cast<std::uint8_t>(sectorText[0]);
    answer[6] = static_cast<std::uint8_t>(sectorText[1]);
    if (!first.drop) {
        Deliver(SimStage::kErase, index, now, answer);
    }

    MarkStage(SimStage::kEraseDone);
    const AnswerPlan done = PlanAnswer(SimStage::kEraseDone, index);
    const SimClock::time_point finished = now + Ms(m_settings.eraseMs);
    if (done.refuse) {
        Deliver(SimStage::kEraseDone, index, finished, ErrorAnswer(done.code));
        return;
    }
    m_flash.Erase(static_cast<int>(sector));
    Session().eraseSequence.push_back(static_cast<int>(sector));
    if (!done.drop) {
        DeliverAfterBusy(SimStage::kEraseDone, index, done.busy, finished,
                         Answer(m_settings.acceptLetter, "    " + sectorText));
    }
}

void TargetModel::HandleBlock(SimClock::time_point now) {
    const bool repeat = m_lastBlockAccepted && m_frame == m_lastBlockFrame;
    const int index = repeat ? m_lastBlockIndex : m_blockCount++;
    m_lastBlockAccepted = false;
    MarkStage(SimStage::kBlock);
    if (!CheckCrc(SimStage::kBlock, index, kBlockFrameLength - 4, now)) {
        return;
    }
    const long address = ParseHex(m_frame, 1, 6);
    const long length = ParseHex(m_frame, 7, 2);
    if (address < 0 || length != static_cast<long>(kBlockDataLength) ||
        static_cast<std::uint32_t>(address) + kBlockDataLength > FlashModel::kSize) {
        RefuseFrame(SimStage::kBlock, index,
                    "block frame header \"" + std::string(m_frame.begin(), m_frame.begin() + 9) +
                        "\" is not an address and the length 80 within the flash",
                    now);
        return;
    }
    const auto where = static_cast<std::uint32_t>(address);
    const AnswerPlan plan = PlanAnswer(SimStage::kBlock, index);
    if (plan.refuse) {
        Deliver(SimStage::kBlock, index, now, ErrorAnswer(plan.code));
        return;
    }
    SessionRecord& session = Session();
    if (repeat) {
        ++session.blockRepeats;
    } else {
        const FlashModel::ProgramResult result =
            m_flash.Program(where, m_frame.data() + 9, kBlockDataLength);
        if (!result.ok) {
            Seen(SimStage::kBlock, "program-not-erased",
                 "block 0x" + Hex(where, 6) + " would program byte 0x" +
                     Hex(result.firstUnerased, 6) + ", which is not erased");
            Deliver(SimStage::kBlock, index, now, ErrorAnswer('P'));
            return;
        }
        ++session.blocksProgrammed;
        if (!session.blockRuns.empty() && session.blockRuns.back().to + kBlockDataLength == where) {
            session.blockRuns.back().to = where;
            ++session.blockRuns.back().count;
        } else {
            session.blockRuns.push_back({where, where, 1});
        }
    }
    m_lastBlockFrame = m_frame;
    m_lastBlockAccepted = true;
    m_lastBlockIndex = index;
    if (!plan.drop) {
        DeliverAfterBusy(SimStage::kBlock, index, plan.busy, now + Ms(m_settings.programMs),
                         Answer(m_settings.acceptLetter, Hex(where, 6)));
    }
}

void TargetModel::HandleFinalize(SimClock::time_point now) {
    m_lastBlockAccepted = false;
    const int index = m_finalizeCount++;
    MarkStage(SimStage::kFinalize);
    if (std::string(m_frame.begin() + 1, m_frame.end()) != kFinalizeArgument) {
        RefuseFrame(SimStage::kFinalize, index,
                    "finalize frame \"" + std::string(m_frame.begin(), m_frame.end()) +
                        "\" is not \"F     0\"",
                    now);
        return;
    }
    const AnswerPlan plan = PlanAnswer(SimStage::kFinalize, index);
    if (plan.refuse) {
        Deliver(SimStage::kFinalize, index, now, ErrorAnswer(plan.code));
        return;
    }
    ++Session().finalizeCount;
    if (!plan.drop) {
        DeliverAfterBusy(SimStage::kFinalize, index, plan.busy, now,
                         Answer(m_settings.acceptLetter, kFinalizeArgument));
    }
    EndSession("finalize", now);
}

void TargetModel::LineClosed(SimClock::time_point now) {
    if (m_state == State::kLoader || m_state == State::kMonitorLoad ||
        m_state == State::kMonitorData || m_state == State::kFailed) {
        EndSession("line-closed", now);
    } else if (m_state == State::kWaitSync) {
        EmitNoise(now);
    }
}

void TargetModel::LineHungUp(SimClock::time_point now) {
    // What was still to go out went with the old line.
    m_lastDue = now;
    m_monitorRunning = false;
    if (m_state != State::kWaitSync) {
        EndSession("hangup", now);
    } else {
        EmitNoise(now);
    }
}

}  // namespace quillon
