#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/job_events.h"
#include "production/station_summary.h"

namespace quillon {

// Where a station of a production run stands, as its tile and its status line show it.
enum class StationPhase {
    kWaitingForEnter,   // its last board is done; the operator's Enter starts the next
    kWaitingForBoard,   // for its port to go and come back (or to settle), or its first board
    kWaitingForNumber,  // for the database to hand out its next board's serial number
    kInitializing,      // its program opens the port and uploads the monitor
    kErasing,           // the download began: the flash is erased
    kProgramming,       // the image's blocks go out
    kFinalizing,        // every block is out; the target checks and ends the download
    kEnded,             // no further board (the run ends, or the station was refused)
};

// How a board ended, as its record line says ("ok", "failed", "aborted").
enum class BoardOutcome { kOk, kFailed, kAborted };

// A station's program was started for a board.
struct StationStarted {
    std::size_t station = 0;  // index in ProductionSetup::stations
    std::string port;
    int board = 0;                            // 1 for the station's first board
    std::optional<std::string> serialNumber;  // as the record writes it; none without numbers
};

// A station's phase or its status text changed.
struct StationStatus {
    std::size_t station = 0;
    StationPhase phase = StationPhase::kInitializing;
    // The station's status in one line, as the terminal's status line shows it ("board 3
    // Programming  42%  12.0/28.5 KB", "board 3  ok — waiting for Enter (3 ok, 0 failed)").
    std::string text;
};

// How far a station's board has got (at most every 100 ms, and at a phase's end).
struct StationProgress {
    std::size_t station = 0;
    ProgressPhase phase = ProgressPhase::kMonitorUpload;
    std::uint32_t done = 0;
    std::uint32_t total = 0;
};

// A line for a station's log: its program's log line, or a message (its program's own, or
// the run's about the station, which the terminal writes on stderr).
struct StationLogLine {
    std::size_t station = 0;
    std::string text;
    bool message = false;
};

// A board is done, its record line written (or said why it could not be).
struct BoardDone {
    std::size_t station = 0;
    int board = 0;
    BoardOutcome result = BoardOutcome::kFailed;
    std::string failure;  // the failing line; empty when ok
    std::optional<std::string> serialNumber;
    double seconds = 0;  // from its program's start to its end, by the run's clock
    // The station's boards so far, this one counted.
    StationTotals totals;
};

// The run's boards so far, over every station.
struct ProductionTotals {
    int boards = 0;
    int ok = 0;
    int failed = 0;
    int aborted = 0;
    double elapsedSeconds = 0;  // since Start, by the run's clock
    double boardsPerHour = 0;   // the boards done over the elapsed time; 0 before the first
    std::vector<StationTotals> stations;
};

// How the run ended, once every station has ended.
struct ProductionEnd {
    ProductionTotals totals;
    // The run did not start a board: two of its ports are one device; the message naming the
    // pair (empty otherwise).
    std::string sameDevice;
    // The run could not be made ready (its record file, image, database or serial numbers):
    // why, as the preparation said it (empty otherwise). No station was started.
    std::string notPrepared;
    bool anyAborted = false;            // a board was aborted
    bool anyFailed = false;             // a board failed
    bool anyRefused = false;            // a station's port turned out to be another station's
    bool anyWithoutNumber = false;      // a station ended for lack of a serial number
    bool stoppedWithoutNumber = false;  // a stop ended a station waiting for its number
};

// Where a production run reports what happens. Every call comes from the run's own thread,
// in the order things happened; a window carries them to its GUI thread. A call must not
// block for long (it holds up every station) and must not call back into the run except for
// NextBoard, Stop and Abort.
class ProductionEvents {
public:
    virtual ~ProductionEvents() = default;

    virtual void OnStationStarted(const StationStarted& started) = 0;
    virtual void OnStationStatus(const StationStatus& status) = 0;
    virtual void OnStationProgress(const StationProgress& progress) = 0;
    virtual void OnStationLogLine(const StationLogLine& line) = 0;
    virtual void OnBoardDone(const BoardDone& done) = 0;
    // After each board, with the run's totals.
    virtual void OnTotals(const ProductionTotals& totals) = 0;
    // A message about the whole run (how Enter and q work, an operator's line not understood).
    virtual void OnRunMessage(const std::string& text) = 0;
    // The run's last event, exactly once.
    virtual void OnRunEnded(const ProductionEnd& end) = 0;
};

}  // namespace quillon
