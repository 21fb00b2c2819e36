#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "cli/production/station_event.h"
#include "link/job_events.h"

namespace quillon {

// What quillon-cli shows: the log on stdout, line by line as the window's log shows it (the
// "*" marks appended to their line as they come), the file reader's messages, other messages
// and debug text on stderr, each as a line of its own, and, when stderr is a terminal, a
// progress bar on stderr.
class CliConsole {
public:
    // `progressBar`: draw the bar (stderr is a terminal). `sharedTerminal`: stdout is that same
    // terminal, so the bar is drawn behind the open log line and erased before it grows.
    // `sharedOutput`: stdout and stderr end in one place (a terminal, or one file or pipe as
    // with `>log 2>&1`), so a line on stderr first ends the open log line.
    CliConsole(std::FILE* out, std::FILE* err, bool progressBar, bool sharedTerminal,
               bool sharedOutput);

    void LogLine(const std::string& text);
    // Plain output on stdout (listings), written as it is.
    void Output(const std::string& text);
    void LogAppend(const std::string& text);
    // A message of the program itself (it names the program where it should), from any thread.
    void Message(const std::string& text);
    // A message of the file reader about `file`, from any thread: "quillon-cli: FILE: text".
    void ReaderMessage(const std::string& file, const std::string& text);
    // Debug text (the bytes of a partial answer, say), from any thread: a line of its own.
    void Debug(const std::string& text);
    void Progress(ProgressPhase phase, std::uint32_t done, std::uint32_t total);
    // Ends the log's last line and removes the bar.
    void Finish();

    // In a station's program: everything above goes to stdout as station events (see
    // station_event.h) for the production run that started it, and no bar is drawn.
    void SetStationEvents(bool on);
    // The board's result, the last event of a station's program.
    void Result(int status, const std::string& failure);
    // Any other event for the production run; nothing outside a station's program.
    void Event(const StationEvent& event);

    // A stream that was closed when the program started (and now writes into the null
    // device): whatever is written to it counts as lost.
    void SetClosedAtStart(bool out, bool err);
    // Empty while everything written reached its stream; else which stream failed and why.
    // Flushes both streams first, so that a write held back in a buffer counts as well.
    std::string LogWriteError();
    // The log must reach whoever reads it: a run whose log was lost ends with status 1 (130 if
    // aborted), never 0, and says why on stderr. Returns `status`, or what it becomes.
    [[nodiscard]] int CheckedStatus(int status);

    // The width of the terminal on stderr (80 when it cannot be told).
    static int TerminalColumns();
    // Its height (24 when it cannot be told).
    static int TerminalRows();

private:
    // Flushes `stream` and keeps the first failure. `wrote`: something was just written to
    // it, which is lost if the stream was closed at start.
    void FlushLocked(std::FILE* stream, bool wrote = true);
    void EraseBarLocked();
    void DrawBarLocked();
    void WriteEventLocked(const StationEvent& event);
    // `text` as a line of its own on stderr.
    void ErrorLineLocked(const std::string& text);
    std::string BarText(int width) const;

    std::mutex m_mutex;
    std::FILE* m_out;
    std::FILE* m_err;
    bool m_progressBar;
    bool m_sharedTerminal;
    bool m_sharedOutput;
    bool m_stationEvents = false;

    std::string m_writeError;  // the first failed write of the log, empty while none failed
    bool m_outClosed = false;  // stdout was closed at start
    bool m_errClosed = false;  // stderr was closed at start

    bool m_lineOpen = false;        // the log's last line has no line end yet
    std::size_t m_lineColumns = 0;  // its width on the terminal

    bool m_barShown = false;
    // Sharing the terminal with the log: the bar is drawn on the row below the open log line
    // (no room behind it), and the cursor was moved past a log line that filled its row.
    bool m_barBelow = false;
    bool m_rowTaken = false;
    ProgressPhase m_phase = ProgressPhase::kMonitorUpload;
    std::uint32_t m_done = 0;
    std::uint32_t m_total = 0;
    std::uint32_t m_phaseStartDone = 0;
    std::chrono::steady_clock::time_point m_phaseStart;
    bool m_phaseKnown = false;
};

}  // namespace quillon
