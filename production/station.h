#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "database/board_row_store.h"
#include "platform/append_only_file.h"
#include "platform/child_process.h"
#include "platform/clock.h"
#include "production/board_decision.h"
#include "production/board_record.h"
#include "production/production_events.h"
#include "production/station_event.h"
#include "production/station_summary.h"

namespace quillon {

// Where a station of a production run stands.
enum class StationState {
    kRunning,           // its program works on a board
    kWaitingForEnter,   // for the operator's Enter
    kWaitingForUnplug,  // for its port to disappear
    kWaitingForPort,    // for its port to come back
    kSettling,          // its port is back; the system gets a moment to set it up
    kWaitingForNumber,  // for the database to hand out its next board's serial number
    kEnded,
};

// What the run knows for a record line of its own: the line of a board whose program could
// not write it (it died, or its write failed).
struct RecordSetup {
    AppendOnlyFile* file = nullptr;  // none: no record
    std::string path;
    std::string host;
    std::string target;
    std::string monitorFile;
    std::optional<std::string> image;  // none with --init-only
    std::string imageSha256;           // of the bytes the run read, which every board gets
    bool eraseAll = false;
    std::optional<std::string> serialAt;  // with serial numbers: where they go
    // With --database: where each board's row goes (the line its program wrote, or the
    // station's own); none without.
    BoardRowStore* rows = nullptr;
    // A stop for the wait of a board's row: true once another stop comes after it was made
    // (the row of a board that a stop aborted belongs in the database too).
    std::function<std::function<bool()>()> stopFromNow;
};

// One port of a production run: the program that works on its board, what that program
// reported, and the totals of its boards. Every board it starts ends with exactly one record
// line: its program's, or, when the program could not write one, the station's. Says what
// happens through `events`; times its boards by `clock`.
class Station {
public:
    Station(std::size_t index, std::string port, const RecordSetup& record,
            ProductionEvents& events, Clock& clock);

    std::size_t index() const { return m_index; }
    const std::string& port() const { return m_totals.port; }
    const StationTotals& totals() const { return m_totals; }
    StationState state() const { return m_state; }
    void SetState(StationState state) { m_state = state; }
    ChildProcess& process() { return m_process; }

    // Starts the program for the next board with `argv`, which `argvForBoard` makes from the
    // board's number. A program that cannot be started is a failed board. `serialNumber`: the
    // serial number the run took for the board, which its line carries however it ends.
    template <typename MakeArgv>
    void StartBoard(MakeArgv argvForBoard, std::optional<std::string> serialNumber = std::nullopt) {
        BeginBoard();
        m_serialNumber = std::move(serialNumber);
        m_events.OnStationStarted({m_index, port(), m_totals.boards, m_serialNumber});
        if (const Status started = m_process.Start(argvForBoard(m_totals.boards)); !started) {
            m_startFailure =
                "the station's program could not be started (" + started.error().text + ")";
            SayMessage(m_startFailure);
            EndBoard(-1, false);
        }
    }
    // Shows what the program wrote. At the end of its output waits for the program and counts
    // the board; `abortRequested`: the run asked it to stop. Returns true when the board ended.
    [[nodiscard]] bool OnOutput(bool abortRequested);

    // When its program last reported anything (or its board began).
    std::uint64_t lastReportMs() const { return m_lastReport; }
    // Ends the board's program, which has reported nothing for `seconds`: it is killed, and
    // its board ends (with its line in the record) once its output has ended.
    void EndSilent(std::uint32_t seconds);
    // True once EndSilent ended its program.
    bool silenced() const { return !m_silentFailure.empty(); }

    // Ends the station before its next board: its port is another station's device.
    void Refuse(const std::string& why);
    bool refused() const { return m_refused; }
    // Ends the station before its next board: no serial number could be taken for it (the
    // list is used up, the counter stays locked, ...).
    void EndWithoutNumber(const std::string& why);

    // Waits for the database to hand out its next board's number, which could not be taken
    // for `why`; said once per reason, and on its status line.
    void WaitForNumber(const std::string& why);

    // When the station waits for its port to settle, or for the database to try again:
    // until then.
    std::uint64_t settleUntilMs = 0;

    // The status line on the terminal.
    std::string StatusText() const;
    // Where it stands, for its tile.
    StationPhase Phase() const;
    // Says its phase and status when either changed since it last said them.
    void ReportStatus();
    // The last board's end, as the events tell it (after EndBoard).
    BoardDone LastBoard() const;

private:
    void BeginBoard();
    void OnEvent(const JobEvent& event);
    // Ends the board: decides its result, writes its record line where its program wrote
    // none, and counts it.
    void EndBoard(int exitStatus, bool abortRequested);
    // The board's record line as the station writes it (without its line end).
    std::string RecordLineOfOurOwn(const BoardDecision& board, std::uint64_t endMs) const;
    // A line for the station's log: its program's log line, or a message.
    void Say(const std::string& line);
    void SayMessage(const std::string& text);
    void CountBoard(const BoardDecision& board);
    // The record line that the board's program wrote since the board began, if it did.
    std::optional<RecordedBoard> FindRecordedLine() const;
    // Appends `line`; false, said in its log, when it cannot be written.
    [[nodiscard]] bool AppendRecord(const std::string& line);
    // Stores the board's row `line` in the database or its spool; false, said in its
    // log, when it went to neither.
    [[nodiscard]] bool StoreRow(const std::string& line);

    std::size_t m_index;
    const RecordSetup& m_record;
    ProductionEvents& m_events;
    Clock& m_clock;
    std::optional<StationStatus> m_saidStatus;  // what ReportStatus said last
    StationTotals m_totals;
    StationState m_state = StationState::kRunning;
    ChildProcess m_process;
    bool m_refused = false;
    bool m_withoutNumber = false;
    std::string m_numberWait;  // why it waits for the database, while it does

    // Of the board in work:
    std::uint64_t m_boardStart = 0;  // the clock's milliseconds
    std::optional<std::uint64_t> m_downloadStart;
    std::int64_t m_recordOffset = -1;       // the record file's size when the board began
    std::optional<std::string> m_openLine;  // the log line that may still grow
    std::string m_lastLine;                 // the last log line
    std::string m_lastMessage;              // the last message (or stray output)
    bool m_latencyAdviceShown = false;      // said once per port and run, not per board
    std::optional<std::string> m_flashedDigest;
    std::optional<std::string> m_serialNumber;
    BoardDecision m_decision;                      // how the last board ended
    std::optional<std::string> m_unwrittenRecord;  // the line its program could not write
    std::optional<JobResult> m_result;             // the program's own result for the board
    std::optional<JobEvent> m_progress;
    std::string m_startFailure;  // why the program could not even start
    std::uint64_t m_lastReport = 0;
    std::string m_silentFailure;  // why the run killed the program: it stopped answering
};

}  // namespace quillon
