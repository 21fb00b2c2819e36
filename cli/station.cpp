#include "cli/station.h"

#include <cstdio>

Station::Station(std::size_t index, std::string port) : m_index(index) {
    m_totals.port = std::move(port);
}

void Station::BeginBoard() {
    ++m_totals.boards;
    m_state = StationState::kRunning;
    m_boardStart = std::chrono::steady_clock::now();
    m_openLine.reset();
    m_lastLine.clear();
    m_lastMessage.clear();
    m_result.reset();
    m_progress.reset();
    m_failure.clear();
}

bool Station::OnOutput(bool abortRequested, StationDisplay& display) {
    std::vector<std::string> lines;
    const bool more = m_process.Read(lines);
    for (const std::string& line : lines) {
        StationEvent event;
        if (DecodeStationEvent(line, event)) {
            OnEvent(event, display);
        } else {
            // Written to stderr by the program itself (a failed record line, for example).
            m_lastMessage = line;
            display.Message(m_index, line);
        }
    }
    if (more) {
        return false;
    }
    EndBoard(m_process.Wait(), abortRequested, display);
    return true;
}

void Station::OnEvent(const StationEvent& event, StationDisplay& display) {
    switch (event.kind) {
        case StationEventKind::kLine:
            // A line is shown whole once the next one begins: lines of several stations
            // cannot share the output otherwise.
            if (m_openLine) {
                display.Line(m_index, *m_openLine);
            }
            m_openLine = event.text;
            m_lastLine = event.text;
            break;
        case StationEventKind::kAppend:
            m_openLine = m_openLine.value_or(std::string()) + event.text;
            m_lastLine = *m_openLine;
            break;
        case StationEventKind::kMessage:
            m_lastMessage = event.text;
            display.Message(m_index, event.text);
            break;
        case StationEventKind::kProgress:
            m_progress = event;
            break;
        case StationEventKind::kResult:
            m_result = event;
            break;
    }
}

void Station::EndBoard(int exitStatus, bool abortRequested, StationDisplay& display) {
    if (m_openLine) {
        display.Line(m_index, *m_openLine);
        m_openLine.reset();
    }
    m_totals.lastSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_boardStart).count();
    // Success only when the program said so and ended so: a board whose result was lost, or
    // whose program died after it, is not taken for flashed.
    const bool ok = exitStatus == 0 && m_result && m_result->status == 0;
    // Aborted: the program said so, or the run killed it after asking it to stop.
    const bool aborted = !ok && (exitStatus == 130 || (m_result && m_result->status == 130) ||
                                 (abortRequested && exitStatus > 128));
    std::string failure;
    if (!ok) {
        if (!m_failure.empty()) {
            failure = m_failure;
        } else if (m_result && !m_result->text.empty()) {
            failure = m_result->text;
        } else if (!m_lastMessage.empty()) {
            failure = m_lastMessage;
        } else if (exitStatus > 128) {
            failure =
                "the station's program was ended by signal " + std::to_string(exitStatus - 128);
        } else {
            failure = "the station's program ended with status " + std::to_string(exitStatus) +
                      (m_lastLine.empty() ? std::string() : " after: " + m_lastLine);
        }
    }
    m_totals.lastResult = ok ? "ok" : (aborted ? "aborted" : "failed");
    if (ok) {
        ++m_totals.ok;
    } else {
        ++(aborted ? m_totals.aborted : m_totals.failed);
        m_totals.lastFailure = failure;
    }
    m_progress.reset();
    m_state = StationState::kEnded;  // until the run says what comes next
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
            return board + m_totals.lastResult + " \xE2\x80\x94 waiting for the next board" +
                   counts;
        case StationState::kEnded:
            break;
    }
    return board + m_totals.lastResult + counts;
}
