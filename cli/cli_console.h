#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "cli/progress_meter.h"
#include "helpers/result.h"
#include "link/job_events.h"

namespace quillon {

// What quillon-cli shows of the events of its jobs and of its own: the log on stdout, line by
// line as the window's log shows it (the "*" marks appended to their line as they come), the
// file reader's messages, other messages and debug text on stderr, each as a line of its own,
// and, when stderr is a terminal, a progress bar on stderr. In a station's program it passes
// every event on to the production run instead.
class CliConsole : public JobEventSink {
public:
    // `progressBar`: draw the bar (stderr is a terminal). `sharedTerminal`: stdout is that same
    // terminal, so the bar is drawn behind the open log line and erased before it grows.
    // `sharedOutput`: stdout and stderr end in one place (a terminal, or one file or pipe as
    // with `>log 2>&1`), so a line on stderr first ends the open log line.
    // `clock` times the bar's rate and time left.
    CliConsole(std::FILE* out, std::FILE* err, bool progressBar, bool sharedTerminal,
               bool sharedOutput, Clock& clock);

    // Shows `event`, from any thread: a log line or appended text on stdout; a message of the
    // program itself (it names the program where it should), a message of the file reader
    // ("quillon-cli: FILE: text") or debug text on stderr, a line of its own; the progress in
    // the bar. A job's done event and what a program tells a production run show nothing.
    // In a station's program every event goes to stdout, one line each (station_event.h).
    void OnJobEvent(const JobEvent& event) override;
    // OnJobEvent of a message of the program itself.
    void Message(const std::string& text) { OnJobEvent(JobEvent::Message(text)); }
    // OnJobEvent of a message of the file reader about `file`.
    void ReaderMessage(const std::string& file, const std::string& text) {
        OnJobEvent(JobEvent::ReaderMessage(file, text));
    }
    // Plain output on stdout (listings), written as it is.
    void Output(const std::string& text);
    // Ends the log's last line and removes the bar.
    void Finish();

    // The outcome of a single run, after its last log line, as the last line on stderr when
    // that is a terminal (not in a station's program): "quillon-cli: OK (12.3s)" with the
    // run's seconds, "quillon-cli: FAILED: " with `failure` (the failing log line), or
    // "quillon-cli: ABORTED", from the run's exit status `status`.
    void Verdict(int status, const std::string& failure, double seconds);

    // In a station's program: every event goes to stdout for the production run that started
    // it, and no bar is drawn.
    void SetStationEvents(bool on);

    // A stream that was closed when the program started (and now writes into the null
    // device): whatever is written to it counts as lost.
    void SetClosedAtStart(bool out, bool err);
    // Whether everything written reached its stream; else an error (kIo) saying which stream
    // failed and why. Flushes both streams first, so that a write held back in a buffer counts
    // as well.
    [[nodiscard]] Status LogWritten();
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
    void LogLineLocked(const std::string& text);
    void LogAppendLocked(const std::string& text);
    void ProgressLocked(ProgressPhase phase, std::uint32_t done, std::uint32_t total);
    // `text` as a line of its own on stderr.
    void ErrorLineLocked(const std::string& text);

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
    ProgressMeter m_meter;
};

}  // namespace quillon
