#include "production/station.h"

#include <chrono>
#include <cstdio>

#include "cli/exit_status.h"
#include "platform/latency_timer.h"

namespace quillon {

namespace {

double SecondsBetween(std::uint64_t fromMs, std::uint64_t toMs) {
    return toMs > fromMs ? static_cast<double>(toMs - fromMs) / 1000.0 : 0.0;
}

}  // namespace

Station::Station(std::size_t index, std::string port, const RecordSetup& record,
                 ProductionEvents& events, Clock& clock)
    : m_index(index), m_record(record), m_events(events), m_clock(clock) {
    m_totals.port = std::move(port);
}

void Station::BeginBoard() {
    ++m_totals.boards;
    m_state = StationState::kRunning;
    m_boardStart = m_clock.NowMs();
    m_downloadStart.reset();
    m_recordOffset = m_record.file != nullptr ? m_record.file->Size() : -1;
    m_openLine.reset();
    m_lastLine.clear();
    m_lastMessage.clear();
    m_flashedDigest.reset();
    m_serialNumber.reset();
    m_unwrittenRecord.reset();
    m_result.reset();
    m_progress.reset();
    m_startFailure.clear();
    m_lastReport = m_boardStart;
    m_silentFailure.clear();
}

bool Station::OnOutput(bool abortRequested) {
    std::vector<std::string> lines;
    const bool more = m_process.Read(lines);
    if (!lines.empty()) {
        m_lastReport = m_clock.NowMs();
    }
    for (const std::string& line : lines) {
        if (const Result<JobEvent> event = DecodeJobEvent(line)) {
            OnEvent(*event);
        } else {
            // Written to stderr by the program itself (a usage error, for example).
            m_lastMessage = line;
            SayMessage(line);
        }
    }
    if (more) {
        return false;
    }
    EndBoard(m_process.Wait(), abortRequested);
    return true;
}

void Station::OnEvent(const JobEvent& event) {
    switch (event.kind) {
        case JobEvent::Kind::kLine:
            // A line is shown whole once the next one begins: lines of several stations
            // cannot share the output otherwise.
            if (m_openLine) {
                Say(*m_openLine);
            }
            m_openLine = event.text;
            m_lastLine = event.text;
            break;
        case JobEvent::Kind::kAppend:
            m_openLine = m_openLine.value_or(std::string()) + event.text;
            m_lastLine = *m_openLine;
            break;
        case JobEvent::Kind::kReaderMessage:
        case JobEvent::Kind::kMessage:
            // Each board's program may give the advice on the adapter's latency timer; the
            // run gives it once for the port. Being advice, it never stands for a failure.
            if (event.kind == JobEvent::Kind::kMessage && IsLatencyTimerAdvice(event.text)) {
                if (!m_latencyAdviceShown) {
                    m_latencyAdviceShown = true;
                    SayMessage(event.text);
                }
                break;
            }
            m_lastMessage = event.kind == JobEvent::Kind::kReaderMessage
                                ? event.file + ": " + event.text
                                : event.text;
            SayMessage(m_lastMessage);
            break;
        case JobEvent::Kind::kDebug:
            SayMessage(event.text);  // for a developer: never the board's failure
            break;
        case JobEvent::Kind::kProgress:
            m_progress = event;
            m_events.OnStationProgress({m_index, event.phase, event.done, event.total});
            break;
        case JobEvent::Kind::kFlashedDigest:
            m_flashedDigest = event.text;
            break;
        case JobEvent::Kind::kDownloadStart:
            m_downloadStart = m_clock.NowMs();
            break;
        case JobEvent::Kind::kUnwrittenRecord:
            m_unwrittenRecord = event.text;
            break;
        case JobEvent::Kind::kBoardEnd:
            m_result = event.result;
            break;
        case JobEvent::Kind::kAlive:
        case JobEvent::Kind::kDone:
            break;  // counts as a report, nothing more
    }
}

std::optional<RecordedBoard> Station::FindRecordedLine() const {
    if (m_record.file == nullptr || m_recordOffset < 0) {
        return std::nullopt;
    }
    // Lines are only ever appended, and the board's program appends its line before anything
    // else of this board: what it wrote stands after the size taken when the board began.
    std::optional<RecordedBoard> found;
    m_record.file->ScanLinesFrom(m_recordOffset, [&](const std::string& line) {
        if (auto board = ReadRecordLine(line, m_record.host, port(), m_totals.boards)) {
            found = board;
            found->line = line;
        }
    });
    return found;
}

bool Station::AppendRecord(const std::string& line) {
    const Status appended = m_record.file->Append(line);
    if (appended) {
        return true;
    }
    m_lastMessage = "the record line could not be written to " + m_record.path + " (" +
                    appended.error().text + ")";
    SayMessage("quillon-cli: " + m_lastMessage);
    return false;
}

bool Station::StoreRow(const std::string& line) {
    // Bounded by the database's patience; not cut short by the stop that aborted the board,
    // since its row belongs in the database too, but by another one (the row then goes to the
    // spool).
    const Result<BoardRowStore::Stored> stored = m_record.rows->Store(line, m_record.stopFromNow());
    if (!stored) {
        m_lastMessage = stored.error().text;
        SayMessage("quillon-cli: " + m_lastMessage);
        return false;
    }
    if (stored->spooled) {
        SayMessage("quillon-cli: " + stored->message);
    }
    return true;
}

void Station::EndBoard(int exitStatus, bool abortRequested) {
    if (m_openLine) {
        Say(*m_openLine);
        m_openLine.reset();
    }
    const auto end = m_clock.NowMs();
    m_totals.lastSeconds = SecondsBetween(m_boardStart, end);

    BoardEnding ending;
    ending.startFailure = m_startFailure;
    if (m_result) {
        ending.reportedStatus = ExitStatusOf(*m_result);
        ending.reportedFailure = m_result->text;
    }
    ending.exitStatus = exitStatus;
    ending.abortRequested = abortRequested;
    ending.silentFailure = m_silentFailure;
    ending.lastMessage = m_lastMessage;
    if (m_startFailure.empty() && !m_result) {
        ending.recordedLine = FindRecordedLine();
    }
    BoardDecision board = DecideResult(ending);

    std::optional<std::string> lineToWrite = m_result ? m_unwrittenRecord : std::nullopt;
    if (m_record.file != nullptr && board.lineOfOurOwn) {
        lineToWrite = RecordLineOfOurOwn(board, end);
    }
    if (lineToWrite && m_record.file != nullptr && !AppendRecord(*lineToWrite + "\n") &&
        board.result == ResultName(kExitSuccess)) {
        // A board whose line is lost is not taken for done.
        board.result = ResultName(kExitJobFailed);
        board.failure = m_lastMessage;
    }
    if (m_record.rows != nullptr) {
        // The database's row is the line of the record file: the one written here, else the
        // program's own, else (when that cannot be found) the station's.
        std::optional<std::string> row = lineToWrite;
        if (!row) {
            if (const std::optional<RecordedBoard> found = FindRecordedLine()) {
                row = found->line;
            }
        }
        if (!StoreRow(row ? *row : RecordLineOfOurOwn(board, end)) &&
            board.result == ResultName(kExitSuccess)) {
            board.result = ResultName(kExitJobFailed);
            board.failure = m_lastMessage;
        }
    }
    m_decision = board;
    CountBoard(board);
}

std::string Station::RecordLineOfOurOwn(const BoardDecision& board, std::uint64_t end) const {
    BoardRecord line;
    line.time = std::chrono::system_clock::now();
    line.host = m_record.host;
    line.port = port();
    line.board = m_totals.boards;
    line.target = m_record.target;
    line.monitorFile = m_record.monitorFile;
    line.image = m_record.image;
    if (m_record.image) {
        line.imageSha256 = m_record.imageSha256;  // the run's, which its board got
        line.flashedSha256 = m_flashedDigest;
    }
    if (m_serialNumber) {
        line.serialNumber = m_serialNumber;
        line.serialAt = m_record.serialAt;
    }
    line.eraseAll = m_record.eraseAll;
    line.result = board.result;
    line.failure = board.failure;
    line.initSeconds = SecondsBetween(m_boardStart, m_downloadStart.value_or(end));
    line.downloadSeconds = m_downloadStart ? SecondsBetween(*m_downloadStart, end) : 0.0;
    std::string text = line.Line();
    text.pop_back();  // its line end
    return text;
}

void Station::CountBoard(const BoardDecision& board) {
    m_totals.lastResult = board.result;
    if (board.result == ResultName(kExitSuccess)) {
        ++m_totals.ok;
    } else {
        ++(board.result == ResultName(kExitAborted) ? m_totals.aborted : m_totals.failed);
        m_totals.lastFailure = board.failure;
    }
    m_progress.reset();
    m_state = StationState::kEnded;  // until the run says what comes next
}

void Station::EndSilent(std::uint32_t seconds) {
    if (!m_silentFailure.empty()) {
        return;  // killed already; its end is on the way
    }
    m_silentFailure =
        "station program stopped answering (silent for " + std::to_string(seconds) + " s)";
    SayMessage("quillon-cli: " + m_silentFailure);
    m_process.Kill();
}

void Station::WaitForNumber(const std::string& why) {
    if (m_state != StationState::kWaitingForNumber || why != m_numberWait) {
        SayMessage("quillon-cli: " + why);
    }
    m_numberWait = why;
    m_state = StationState::kWaitingForNumber;
}

void Station::Refuse(const std::string& why) {
    SayMessage(why);
    m_totals.lastFailure = why;
    m_refused = true;
    m_state = StationState::kEnded;
}

void Station::EndWithoutNumber(const std::string& why) {
    SayMessage(why);
    m_totals.lastFailure = why;
    if (m_totals.lastResult.empty()) {
        m_totals.lastResult = "stopped";  // no board at all
    }
    m_withoutNumber = true;
    m_state = StationState::kEnded;
}

std::string Station::StatusText() const {
    const std::string board = "board " + std::to_string(m_totals.boards) + "  ";
    const std::string counts = m_totals.boards == 0
                                   ? std::string()
                                   : " (" + std::to_string(m_totals.ok) + " ok, " +
                                         std::to_string(m_totals.failed) + " failed)";
    switch (m_state) {
        case StationState::kRunning:
            if (m_progress && m_progress->done < m_progress->total) {
                const bool programming = m_progress->phase == ProgressPhase::kProgramming;
                char text[96];
                std::snprintf(text, sizeof text, "%s %3u%%  %.1f/%.1f KB",
                              programming ? "Programming" : "Monitor upload",
                              static_cast<unsigned>(100.0 * m_progress->done / m_progress->total),
                              m_progress->done / 1024.0, m_progress->total / 1024.0);
                return board + text;
            }
            return board + m_lastLine;
        case StationState::kWaitingForEnter:
            return board + m_totals.lastResult + " \xE2\x80\x94 waiting for Enter" + counts;
        case StationState::kWaitingForUnplug:
            return board + m_totals.lastResult + " \xE2\x80\x94 waiting for the board to go" +
                   counts;
        case StationState::kWaitingForPort:
        case StationState::kSettling:
            if (m_totals.boards == 0) {
                return "waiting for the first board";
            }
            return board + m_totals.lastResult + " \xE2\x80\x94 waiting for the next board" +
                   counts;
        case StationState::kWaitingForNumber:
            return m_numberWait;
        case StationState::kEnded:
            if (m_refused) {
                return "not used: " + m_totals.lastFailure;
            }
            if (m_withoutNumber) {
                return "stopped: " + m_totals.lastFailure;
            }
            break;
    }
    return board + m_totals.lastResult + counts;
}

void Station::Say(const std::string& line) {
    m_events.OnStationLogLine({m_index, line, false});
}

void Station::SayMessage(const std::string& text) {
    m_events.OnStationLogLine({m_index, text, true});
}

StationPhase Station::Phase() const {
    switch (m_state) {
        case StationState::kRunning:
            if (!m_downloadStart) {
                return StationPhase::kInitializing;
            }
            if (!m_progress || m_progress->phase != ProgressPhase::kProgramming) {
                return StationPhase::kErasing;
            }
            return m_progress->done < m_progress->total ? StationPhase::kProgramming
                                                        : StationPhase::kFinalizing;
        case StationState::kWaitingForEnter:
            return StationPhase::kWaitingForEnter;
        case StationState::kWaitingForUnplug:
        case StationState::kWaitingForPort:
        case StationState::kSettling:
            return StationPhase::kWaitingForBoard;
        case StationState::kWaitingForNumber:
            return StationPhase::kWaitingForNumber;
        case StationState::kEnded:
            break;
    }
    return StationPhase::kEnded;
}

void Station::ReportStatus() {
    StationStatus status{m_index, Phase(), StatusText()};
    if (!m_saidStatus || m_saidStatus->phase != status.phase || m_saidStatus->text != status.text) {
        m_events.OnStationStatus(status);
        m_saidStatus = std::move(status);
    }
}

BoardDone Station::LastBoard() const {
    BoardDone done;
    done.station = m_index;
    done.board = m_totals.boards;
    done.result = m_decision.result == ResultName(kExitSuccess)   ? BoardOutcome::kOk
                  : m_decision.result == ResultName(kExitAborted) ? BoardOutcome::kAborted
                                                                  : BoardOutcome::kFailed;
    done.failure = m_decision.failure;
    done.serialNumber = m_serialNumber;
    done.seconds = m_totals.lastSeconds;
    done.totals = m_totals;
    return done;
}

}  // namespace quillon
