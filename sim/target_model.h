#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sim/flash_model.h"
#include "sim/sim_monitor_file.h"
#include "sim/sim_settings.h"

namespace quillon {

using SimClock = std::chrono::steady_clock;

// Bytes the target sends, not before a given time; or, with `hangup`, the order to close the
// line at that time.
struct SimEmission {
    SimClock::time_point notBefore;
    std::vector<std::uint8_t> bytes;
    bool hangup = false;
};

// A stretch of blocks programmed at consecutive 128-byte steps.
struct BlockRun {
    std::uint32_t from = 0;
    std::uint32_t to = 0;  // address of the stretch's last block
    int count = 0;
};

struct SessionRecord {
    int number = 0;
    std::vector<SimStage> stagesReached;
    std::size_t loaderExpected = 0;
    std::size_t loaderReceived = 0;
    long loaderMismatchAt = -1;  // first loader offset that differed from the monitor file
    std::size_t monitorExpected = 0;
    long monitorAnnounced = -1;  // the length the host announced, -1 before it did
    std::size_t monitorReceived = 0;
    long monitorMismatchAt = -1;
    bool monitorStarted = false;
    std::vector<int> eraseSequence;
    std::vector<BlockRun> blockRuns;
    int blocksProgrammed = 0;
    int blockRepeats = 0;  // blocks sent again after a lost answer, accepted unchanged
    int finalizeCount = 0;
    long overruns = 0;  // bytes lost to a full receive buffer (see TargetSettings::rxFifo)
    // "finalize", "sync" (a new session began), "stall", "line-closed", "hangup"; empty while open
    std::string endedBy;
};

// Something the target noticed that a correct host does not do, or a fault it played itself.
struct SimEvent {
    int session = 0;  // 0: outside any session
    std::string stage;
    std::string kind;
    std::string detail;
};

struct SimRecord {
    std::vector<SessionRecord> sessions;
    std::vector<SimEvent> faultsSeen;
    std::vector<SimEvent> faultsInjected;
    long noiseIgnored = 0;  // bytes outside any frame or handshake that were dropped
    long overruns = 0;      // bytes lost to a full receive buffer, in all sessions
};

// The virtual target's behaviour, free of any line: bytes come in with the time they arrived,
// answers go out as emissions with the time they are due. The bootstrap loader waits for the
// sync byte (ignoring anything else), takes the loader stages and checks them against the
// monitor file, reports its RAM test, takes the monitor through the echo protocol, and then the
// monitor serves erase, block and finalize frames on the flash model; a finalize ends the
// session, and the frames of a further download open the next one at the running monitor. A
// sync byte between monitor frames starts a new session with a handshake, as after a reset.
class TargetModel {
public:
    TargetModel(SimMonitorFile file, TargetSettings settings);

    // Called once when the line is up: plays the idle noise fault.
    void Start(SimClock::time_point now);
    void Receive(std::uint8_t byte, SimClock::time_point now);
    // The host closed the line. An unfinished handshake counts as reset (the operator resets
    // the target before the next Initialize); a running monitor keeps running.
    void LineClosed(SimClock::time_point now);
    // The target closed the line itself (hang-up fault); it starts over on the new line.
    void LineHungUp(SimClock::time_point now);

    std::vector<SimEmission> TakeEmissions();

    // How many of the next `count` bytes, the i-th arriving at `arrival(i)`, the target takes
    // without answering whatever their values: the bytes of a frame or of the loader before its
    // last, as long as none pauses long enough to drop the frame or stall the handshake. A
    // paced line hands those over together instead of waking up for each.
    std::size_t SilentBytesAhead(
        std::size_t count, const std::function<SimClock::time_point(std::size_t)>& arrival) const;

    const SimRecord& record() const { return m_record; }
    const FlashModel& flash() const { return m_flash; }
    const SimMonitorFile& monitorFile() const { return m_file; }
    const TargetSettings& settings() const { return m_settings; }
    std::string reportedFlashType() const;
    int sessionsEnded() const { return m_sessionsEnded; }
    bool waitingForSync() const { return m_state == State::kWaitSync; }

private:
    enum class State { kWaitSync, kLoader, kMonitorLoad, kMonitorData, kFailed, kCommand };
    struct AnswerPlan {
        bool refuse = false;  // an injected error answer replaces the real one
        std::uint8_t code = 0;
        bool drop = false;
        int busy = 0;
    };

    bool FaultsActive() const;
    SessionRecord& Session() { return m_record.sessions.back(); }
    void StartSession(SimClock::time_point now);
    void EndSession(const std::string& reason, SimClock::time_point now);
    void MarkStage(SimStage stage);
    void Seen(SimStage stage, const std::string& kind, const std::string& detail);
    void Injected(const StageSelector& at, const std::string& kind, const std::string& detail);
    void EmitNoise(SimClock::time_point now);
    // Queues `bytes` as the answer at `stage`/`index` unless the silence or hang-up fault
    // takes that answer; never before an answer queued earlier, and late or split when a
    // timing fault strikes there (a "D" answer, `busy`, is never split). Returns when it is
    // due.
    SimClock::time_point Deliver(SimStage stage, int index, SimClock::time_point at,
                                 std::vector<std::uint8_t> bytes, bool busy = false);
    // The first timing fault of `delays` at `stage`/`index`, once per session.
    const FaultPlan::Delay* TimingFault(const std::vector<FaultPlan::Delay>& delays,
                                        std::set<std::pair<int, int>>& struck, SimStage stage,
                                        int index);
    AnswerPlan PlanAnswer(SimStage stage, int index);
    // Queues "D" answers and then `answer`, the first at `at`.
    void DeliverAfterBusy(SimStage stage, int index, int busy, SimClock::time_point at,
                          std::vector<std::uint8_t> answer);
    std::vector<std::uint8_t> Answer(char letter, const std::string& detail) const;
    std::vector<std::uint8_t> ErrorAnswer(std::uint8_t code) const;
    // Answers "E" "A" to a frame whose CRC is right but whose fields are not.
    void RefuseFrame(SimStage stage, int index, const std::string& detail,
                     SimClock::time_point now);

    // Hands `byte`, which arrived at `now`, to the state machine: at once, or through the
    // loader's receive buffer while the loader takes the monitor, when the loader takes it
    // (or never, when it arrived into a full buffer).
    void Dispatch(std::uint8_t byte, SimClock::time_point now);
    // The answer to the sync byte: the ident byte, and the faults that strike there.
    void AnswerSync(SimClock::time_point now);
    void ReceiveLoader(std::uint8_t byte, SimClock::time_point now);
    void ReceiveMonitorLoad(std::uint8_t byte, SimClock::time_point now);
    void ReceiveMonitorData(std::uint8_t byte, SimClock::time_point now);
    void ReceiveCommand(std::uint8_t byte, SimClock::time_point now);
    void HandleErase(SimClock::time_point now);
    void HandleBlock(SimClock::time_point now);
    void HandleFinalize(SimClock::time_point now);
    bool CheckCrc(SimStage stage, int index, std::size_t covered, SimClock::time_point now);

    SimMonitorFile m_file;
    TargetSettings m_settings;
    FlashModel m_flash;
    SimRecord m_record;
    std::vector<SimEmission> m_emissions;

    State m_state = State::kWaitSync;
    int m_sessionsEnded = 0;
    SimClock::time_point m_lastActivity{};
    bool m_silent = false;
    bool m_hungUp = false;
    // The monitor runs on the target: after a finalize it still takes commands, so another
    // download needs no new Initialize. A sync byte (a reset) or a hang-up ends it.
    bool m_monitorRunning = false;
    int m_loadRow = 0;
    long m_announcedLength = 0;
    std::size_t m_dataIndex = 0;
    std::vector<std::uint8_t> m_frame;
    std::size_t m_frameLength = 0;
    SimClock::time_point m_lastFrameByte{};
    int m_eraseCount = 0;
    int m_blockCount = 0;
    int m_finalizeCount = 0;
    std::vector<std::uint8_t> m_lastBlockFrame;
    bool m_lastBlockAccepted = false;
    int m_lastBlockIndex = -1;
    std::map<std::pair<int, int>, int> m_dropped;  // (stage, index) -> answers swallowed
    std::set<std::pair<int, int>> m_lateStruck;    // (stage, index) held back this session
    std::set<std::pair<int, int>> m_splitStruck;   // (stage, index) split this session
    // The loader's receive buffer: when the loader takes each byte still in it, and the
    // earliest it takes the next one.
    std::deque<SimClock::time_point> m_rxTakes;
    SimClock::time_point m_rxNextTake{};
    // When the last queued byte is due: a later answer never overtakes an earlier one.
    SimClock::time_point m_lastDue{};
};

}  // namespace quillon
