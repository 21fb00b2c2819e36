#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "production/board_decision.h"
#include "production/board_record.h"
#include "cli/production/station_display.h"
#include "production/station_event.h"
#include "production/station_summary.h"
#include "database/board_row_store.h"
#include "platform/append_only_file.h"
#include "platform/child_process.h"

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
};

// One port of a production run: the program that works on its board, what that program
// reported, and the totals of its boards. Every board it starts ends with exactly one record
// line: its program's, or, when the program could not write one, the station's.
class Station {
public:
    Station(std::size_t index, std::string port, const RecordSetup& record);

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
    void StartBoard(MakeArgv argvForBoard, StationDisplay& display,
                    std::optional<std::string> serialNumber = std::nullopt) {
        BeginBoard();
        m_serialNumber = std::move(serialNumber);
        if (const Status started = m_process.Start(argvForBoard(m_totals.boards)); !started) {
            m_startFailure =
                "the station's program could not be started (" + started.error().text + ")";
            display.Message(m_index, m_startFailure);
            EndBoard(-1, false, display);
        }
    }
    // Shows what the program wrote. At the end of its output waits for the program and counts
    // the board; `abortRequested`: the run asked it to stop. Returns true when the board ended.
    [[nodiscard]] bool OnOutput(bool abortRequested, StationDisplay& display);

    // When its program last reported anything (or its board began).
    std::chrono::steady_clock::time_point lastReport() const { return m_lastReport; }
    // Ends the board's program, which has reported nothing for `seconds`: it is killed, and
    // its board ends (with its line in the record) once its output has ended.
    void EndSilent(std::uint32_t seconds, StationDisplay& display);
    // True once EndSilent ended its program.
    bool silenced() const { return !m_silentFailure.empty(); }

    // Ends the station before its next board: its port is another station's device.
    void Refuse(const std::string& why, StationDisplay& display);
    bool refused() const { return m_refused; }
    // Ends the station before its next board: no serial number could be taken for it (the
    // list is used up, the counter stays locked, ...).
    void EndWithoutNumber(const std::string& why, StationDisplay& display);

    // Waits for the database to hand out its next board's number, which could not be taken
    // for `why`; said once per reason, and on its status line.
    void WaitForNumber(const std::string& why, StationDisplay& display);

    // When the station waits for its port to settle, or for the database to try again:
    // until then.
    std::chrono::steady_clock::time_point settleUntil;

    // The status line on the terminal.
    std::string StatusText() const;

private:
    void BeginBoard();
    void OnEvent(const JobEvent& event, StationDisplay& display);
    // Ends the board: decides its result, writes its record line where its program wrote
    // none, and counts it.
    void EndBoard(int exitStatus, bool abortRequested, StationDisplay& display);
    // The board's record line as the station writes it (without its line end).
    std::string RecordLineOfOurOwn(const BoardDecision& board,
                                   std::chrono::steady_clock::time_point end) const;
    void CountBoard(const BoardDecision& board);
    // The record line that the board's program wrote since the board began, if it did.
    std::optional<RecordedBoard> FindRecordedLine() const;
    // Appends `line`; false, said on the display, when it cannot be written.
    [[nodiscard]] bool AppendRecord(const std::string& line, StationDisplay& display);
    // Stores the board's row `line` in the database or its spool; false, said on the
    // display, when it went to neither.
    [[nodiscard]] bool StoreRow(const std::string& line, StationDisplay& display);

    std::size_t m_index;
    const RecordSetup& m_record;
    StationTotals m_totals;
    StationState m_state = StationState::kRunning;
    ChildProcess m_process;
    bool m_refused = false;
    bool m_withoutNumber = false;
    std::string m_numberWait;  // why it waits for the database, while it does

    // Of the board in work:
    std::chrono::steady_clock::time_point m_boardStart;
    std::optional<std::chrono::steady_clock::time_point> m_downloadStart;
    std::int64_t m_recordOffset = -1;       // the record file's size when the board began
    std::optional<std::string> m_openLine;  // the log line that may still grow
    std::string m_lastLine;                 // the last log line
    std::string m_lastMessage;              // the last message (or stray output)
    bool m_latencyAdviceShown = false;      // said once per port and run, not per board
    std::optional<std::string> m_flashedDigest;
    std::optional<std::string> m_serialNumber;
    std::optional<std::string> m_unwrittenRecord;  // the line its program could not write
    std::optional<JobResult> m_result;             // the program's own result for the board
    std::optional<JobEvent> m_progress;
    std::string m_startFailure;  // why the program could not even start
    std::chrono::steady_clock::time_point m_lastReport;
    std::string m_silentFailure;  // why the run killed the program: it stopped answering
};

}  // namespace quillon
