#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "cli/station_display.h"
#include "cli/station_event.h"
#include "cli/station_process.h"
#include "cli/station_summary.h"

// Where a station of a production run stands.
enum class StationState {
    kRunning,           // its program works on a board
    kWaitingForEnter,   // for the operator's Enter
    kWaitingForUnplug,  // for its port to disappear
    kWaitingForPort,    // for its port to come back
    kSettling,          // its port is back; the system gets a moment to set it up
    kEnded,
};

// One port of a production run: the program that works on its board, what that program
// reported, and the totals of its boards.
class Station {
public:
    Station(std::size_t index, std::string port);

    std::size_t index() const { return m_index; }
    const std::string& port() const { return m_totals.port; }
    const StationTotals& totals() const { return m_totals; }
    StationState state() const { return m_state; }
    void SetState(StationState state) { m_state = state; }
    StationProcess& process() { return m_process; }

    // Starts the program for the next board with `argv`, which `argvForBoard` makes from the
    // board's number. A program that cannot be started is a failed board.
    template <typename MakeArgv>
    void StartBoard(MakeArgv argvForBoard, StationDisplay& display) {
        BeginBoard();
        std::string error;
        if (!m_process.Start(argvForBoard(m_totals.boards), error)) {
            m_failure = "the station's program could not be started (" + error + ")";
            display.Message(m_index, m_failure);
            EndBoard(-1, false, display);
        }
    }
    // Shows what the program wrote. At the end of its output waits for the program and counts
    // the board; `abortRequested`: the run asked it to stop. Returns true when the board ended.
    bool OnOutput(bool abortRequested, StationDisplay& display);

    // When the station waits for its port to settle: until then.
    std::chrono::steady_clock::time_point settleUntil;

    // The status line on the terminal.
    std::string StatusText() const;

private:
    void BeginBoard();
    void OnEvent(const StationEvent& event, StationDisplay& display);
    void EndBoard(int exitStatus, bool abortRequested, StationDisplay& display);

    std::size_t m_index;
    StationTotals m_totals;
    StationState m_state = StationState::kRunning;
    StationProcess m_process;
    std::chrono::steady_clock::time_point m_boardStart;

    // Of the board in work:
    std::optional<std::string> m_openLine;  // the log line that may still grow
    std::string m_lastLine;                 // the last log line
    std::string m_lastMessage;              // the last message (or stray output)
    std::optional<StationEvent> m_result;   // the program's own result
    std::optional<StationEvent> m_progress;
    std::string m_failure;  // why the program could not even start
};
