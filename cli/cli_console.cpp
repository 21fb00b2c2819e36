#include "cli/cli_console.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/exit_status.h"
#include "helpers/text_format.h"
#include "platform/console.h"
#include "production/station_event.h"

namespace quillon {

namespace {

// Terminal control: save and restore the cursor, erase to the end of the line.
constexpr const char* kSaveCursor = "\0337";
constexpr const char* kRestoreCursor = "\0338";
constexpr const char* kEraseToEnd = "\033[K";
constexpr const char* kCursorUp = "\033[A";
constexpr const char* kCursorDown = "\033[B";

}  // namespace

CliConsole::CliConsole(std::FILE* out, std::FILE* err, bool progressBar, bool sharedTerminal,
                       bool sharedOutput, Clock& clock)
    : m_out(out),
      m_err(err),
      m_progressBar(progressBar),
      m_sharedTerminal(sharedTerminal),
      m_sharedOutput(sharedOutput || sharedTerminal),
      m_meter(clock) {}

int CliConsole::TerminalColumns() {
    return quillon::TerminalColumns();
}

int CliConsole::TerminalRows() {
    return quillon::TerminalRows();
}

void CliConsole::SetStationEvents(bool on) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stationEvents = on;
}

void CliConsole::OnJobEvent(const JobEvent& event) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stationEvents) {
        // The text goes unescaped: the production run escapes what it shows.
        std::fputs(EncodeJobEvent(event).c_str(), m_out);
        FlushLocked(m_out);
        return;
    }
    switch (event.kind) {
        case JobEvent::Kind::kLine:
            LogLineLocked(event.text);
            break;
        case JobEvent::Kind::kAppend:
            LogAppendLocked(event.text);
            break;
        case JobEvent::Kind::kProgress:
            ProgressLocked(event.phase, event.done, event.total);
            break;
        case JobEvent::Kind::kReaderMessage:
            // The reader's messages quote bytes of the file.
            ErrorLineLocked("quillon-cli: " + EscapeForTerminal(event.file, false) + ": " +
                            EscapeForTerminal(event.text, true));
            break;
        case JobEvent::Kind::kMessage:
        case JobEvent::Kind::kDebug:
            ErrorLineLocked(EscapeForTerminal(event.text, true));
            break;
        case JobEvent::Kind::kDone:
        case JobEvent::Kind::kFlashedDigest:
        case JobEvent::Kind::kDownloadStart:
        case JobEvent::Kind::kUnwrittenRecord:
        case JobEvent::Kind::kAlive:
        case JobEvent::Kind::kBoardEnd:
            break;
    }
}

void CliConsole::LogLineLocked(const std::string& raw) {
    // Log lines may quote the target or a file; nothing of that may steer the terminal.
    const std::string text = EscapeForTerminal(raw, true);
    EraseBarLocked();
    if (m_lineOpen) {
        std::fputc('\n', m_out);
    }
    std::fputs(text.c_str(), m_out);
    m_lineOpen = true;
    m_rowTaken = false;
    const std::size_t lastBreak = text.rfind('\n');
    m_lineColumns = Utf8Columns(lastBreak == std::string::npos ? text : text.substr(lastBreak + 1));
    FlushLocked(m_out);
    DrawBarLocked();
}

void CliConsole::Output(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::fputs(text.c_str(), m_out);
    FlushLocked(m_out);
}

void CliConsole::LogAppendLocked(const std::string& raw) {
    const std::string text = EscapeForTerminal(raw, true);
    EraseBarLocked();
    std::fputs(text.c_str(), m_out);
    m_lineOpen = true;
    m_rowTaken = m_rowTaken && text.empty();
    m_lineColumns += Utf8Columns(text);
    FlushLocked(m_out);
    DrawBarLocked();
}

void CliConsole::ErrorLineLocked(const std::string& text) {
    EraseBarLocked();
    if (m_sharedOutput && m_lineOpen) {
        // Where both streams end in one place the line would land inside the open log line.
        std::fputc('\n', m_out);
        FlushLocked(m_out);
        m_lineOpen = false;
        m_lineColumns = 0;
        m_rowTaken = false;
    }
    std::fputs(text.c_str(), m_err);
    if (text.empty() || text.back() != '\n') {
        std::fputc('\n', m_err);
    }
    FlushLocked(m_err);
    DrawBarLocked();
}

void CliConsole::ProgressLocked(ProgressPhase phase, std::uint32_t done, std::uint32_t total) {
    m_meter.Update(phase, done, total);
    if (!m_progressBar) {
        return;
    }
    EraseBarLocked();
    m_barShown = m_meter.InWork();  // a finished phase leaves no bar behind
    DrawBarLocked();
}

void CliConsole::Finish() {
    std::lock_guard<std::mutex> lock(m_mutex);
    EraseBarLocked();
    m_barShown = false;
    if (m_lineOpen) {
        std::fputc('\n', m_out);
        m_lineOpen = false;
        m_lineColumns = 0;
        m_rowTaken = false;
    }
    FlushLocked(m_out);
}

void CliConsole::Verdict(int status, const std::string& failure, double seconds) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_progressBar || m_stationEvents) {
        return;  // stderr is no terminal, or the production run shows the board's end
    }
    std::string text;
    if (status == kExitSuccess) {
        text = FormatText("quillon-cli: OK (%.1fs)", seconds);
    } else if (status == kExitAborted) {
        text = "quillon-cli: ABORTED";
    } else {
        text = "quillon-cli: FAILED";
        if (!failure.empty()) {
            text += ": " + EscapeForTerminal(failure, false);
        }
    }
    ErrorLineLocked(text);
}

void CliConsole::FlushLocked(std::FILE* stream, bool wrote) {
    const std::string name = stream == m_out ? "standard output" : "standard error";
    if (wrote && (stream == m_out ? m_outClosed : m_errClosed) && m_writeError.empty()) {
        m_writeError = name + " was closed";
    }
    errno = 0;
    // A failed write leaves the stream's error flag set, so this also catches a line whose
    // fputs failed before.
    if (std::fflush(stream) == 0 && std::ferror(stream) == 0) {
        return;
    }
    if (m_writeError.empty()) {
        m_writeError = name + ": " + (errno != 0 ? std::strerror(errno) : "write error");
    }
}

void CliConsole::SetClosedAtStart(bool out, bool err) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outClosed = out;
    m_errClosed = err;
}

Status CliConsole::LogWritten() {
    std::lock_guard<std::mutex> lock(m_mutex);
    // Only a stream that was written to counts; with nothing written nothing was lost.
    FlushLocked(m_out, false);
    FlushLocked(m_err, false);
    if (!m_writeError.empty()) {
        return Fail(ErrorKind::kIo, m_writeError);
    }
    return {};
}

void CliConsole::EraseBarLocked() {
    if (!m_progressBar || !m_barShown) {
        return;
    }
    if (m_sharedTerminal && m_barBelow) {
        // The bar's row below the cursor.
        std::fprintf(m_err, "%s%s\r%s%s", kSaveCursor, kCursorDown, kEraseToEnd, kRestoreCursor);
    } else if (m_sharedTerminal) {
        // The cursor stands at the end of the open log line: erase what follows it.
        std::fputs(kEraseToEnd, m_err);
    } else {
        std::fputs("\r", m_err);
        std::fputs(kEraseToEnd, m_err);
    }
    FlushLocked(m_err);
}

void CliConsole::DrawBarLocked() {
    if (!m_progressBar || !m_barShown) {
        return;
    }
    const int columns = std::max(TerminalColumns(), 1);
    if (m_sharedTerminal) {
        // The cursor's column on the open log line's last row. A line that filled its row
        // leaves the cursor waiting past the row's end, where nothing can be drawn behind it.
        int column = static_cast<int>(m_lineColumns % static_cast<std::size_t>(columns));
        const bool rowFull = m_lineOpen && m_lineColumns > 0 && column == 0 && !m_rowTaken;
        // The bar goes behind the line only in its whole form; else it has a row of its own.
        const int room = columns - column - 3;
        if (!rowFull && m_meter.FitsWhole(room)) {
            const std::string behind = m_meter.Text(room);
            std::fprintf(m_err, "%s  %s%s", kSaveCursor, behind.c_str(), kRestoreCursor);
            m_barBelow = false;
        } else {
            // No room for the bar behind the line: it takes the row below, and the cursor
            // goes back to where the line goes on (the next row for a full one: the line
            // would go on there anyway).
            if (rowFull) {
                std::fputs("\n\r", m_err);
                m_rowTaken = true;
                column = 0;
            }
            std::fprintf(m_err, "\n\r%s%s%s\r", m_meter.Text(columns - 1).c_str(), kEraseToEnd,
                         kCursorUp);
            if (column > 0) {
                std::fprintf(m_err, "\033[%dC", column);
            }
            m_barBelow = true;
        }
    } else {
        std::fprintf(m_err, "\r%s", m_meter.Text(columns - 1).c_str());
    }
    FlushLocked(m_err);
}

int CliConsole::CheckedStatus(int status) {
    const Status written = LogWritten();
    if (written) {
        return status;
    }
    std::fprintf(m_err, "quillon-cli: the log could not be written (%s)\n",
                 written.error().text.c_str());
    std::fflush(m_err);
    return status == kExitSuccess ? kExitJobFailed : status;
}

}  // namespace quillon
