#include "cli/production/station_display.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/cli_console.h"
#include "cli/line_wrap.h"
#include "helpers/text_format.h"

namespace quillon {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

// `text` cut to `columns` characters (UTF-8), so that a status line never wraps.
std::string Cut(const std::string& text, std::size_t columns) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == columns) {
            return text.substr(0, i);
        }
    }
    return text;
}

}  // namespace

StationDisplay::StationDisplay(std::FILE* out, std::FILE* err, std::vector<std::string> ports,
                               bool statusLines, bool sharedTerminal)
    : m_out(out),
      m_err(err),
      m_statusLines(statusLines),
      m_sharedTerminal(sharedTerminal),
      m_status(ports.size()) {
    for (const std::string& port : ports) {
        m_ports.push_back(EscapeForTerminal(port, false));
        m_portWidth = std::max(m_portWidth, Utf8Columns(m_ports.back()));
    }
}

std::size_t StationDisplay::WrapColumns() {
    return static_cast<std::size_t>(std::max(CliConsole::TerminalColumns() - 1, 1));
}

std::string StationDisplay::Prefixed(std::size_t station, const std::string& raw,
                                     bool terminal) const {
    // Each line of a text with line breaks carries the prefix; on a terminal its rows go on
    // below the text, past the prefix.
    std::string text;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = raw.find('\n', start);
        const std::string line =
            m_ports[station] + ": " + EscapeForTerminal(raw.substr(start, end - start), false);
        text += (terminal ? WrapAtWords(line, WrapColumns(), Utf8Columns(m_ports[station]) + 2)
                          : line) +
                "\n";
        if (end == std::string::npos) {
            return text;
        }
        start = end + 1;
    }
}

void StationDisplay::Line(std::size_t station, const std::string& text) {
    if (m_sharedTerminal) {
        Erase();
    }
    Write(m_out, Prefixed(station, text, m_sharedTerminal));
    if (m_sharedTerminal) {
        Draw();
    }
}

void StationDisplay::Message(std::size_t station, const std::string& text) {
    Erase();
    Write(m_err, Prefixed(station, text, m_statusLines));
    Draw();
}

void StationDisplay::RunMessage(const std::string& text) {
    Erase();
    const std::string escaped = EscapeForTerminal(text, true);
    if (!m_statusLines) {
        Write(m_err, escaped + "\n");
    } else {
        // Wrapped at words: a terminal would break it inside one.
        std::string rows;
        std::size_t start = 0;
        for (std::size_t end = 0; end != std::string::npos; start = end + 1) {
            end = escaped.find('\n', start);
            rows += WrapAtWords(escaped.substr(start, end - start), WrapColumns(), 0) + "\n";
        }
        Write(m_err, rows);
    }
    Draw();
}

void StationDisplay::SetStatus(std::size_t station, const std::string& text) {
    if (m_status[station] != text) {
        m_status[station] = text;
        m_changed = true;
    }
}

int StationDisplay::Refresh() {
    if (!m_statusLines || !m_changed) {
        return -1;
    }
    const auto now = std::chrono::steady_clock::now();
    if (m_drawn && now - m_lastDraw < kRedrawInterval) {
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
            m_lastDraw + kRedrawInterval - now);
        return static_cast<int>(wait.count()) + 1;
    }
    Erase();
    Draw();
    return -1;
}

void StationDisplay::Finish(const std::string& text) {
    Erase();
    m_statusLines = false;
    Write(m_out, text);
}

void StationDisplay::Erase() {
    if (!m_statusLines || !m_drawn) {
        return;
    }
    // Up to the first status line, then erase to the end of the screen.
    Write(m_err, "\033[" + std::to_string(m_drawnLines) + "A\r\033[J");
    m_drawn = false;
}

void StationDisplay::Draw() {
    if (!m_statusLines) {
        return;
    }
    const auto columns = static_cast<std::size_t>(std::max(CliConsole::TerminalColumns() - 1, 1));
    // The block never takes more than the terminal's height less the line the log goes on:
    // a taller block would scroll away with every redraw and flood the scrollback.
    const auto rows = static_cast<std::size_t>(std::max(CliConsole::TerminalRows() - 1, 1));
    const std::size_t shown = m_status.size() <= rows ? m_status.size() : rows - 1;
    std::string text;
    for (std::size_t i = 0; i < shown; ++i) {
        const std::string line = m_ports[i] +
                                 std::string(m_portWidth - Utf8Columns(m_ports[i]), ' ') + "  " +
                                 EscapeForTerminal(m_status[i], false);
        text += Cut(line, columns) + "\n";
    }
    if (shown < m_status.size()) {
        const std::size_t more = m_status.size() - shown;
        text += Cut("... and " + std::to_string(more) + " more station" + (more == 1 ? "" : "s"),
                    columns) +
                "\n";
    }
    Write(m_err, text);
    m_drawnLines = shown < m_status.size() ? shown + 1 : shown;
    m_drawn = true;
    m_changed = false;
    m_lastDraw = std::chrono::steady_clock::now();
}

Status StationDisplay::Written() const {
    if (!m_writeError.empty()) {
        return Fail(ErrorKind::kIo, m_writeError);
    }
    return {};
}

void StationDisplay::Write(std::FILE* stream, const std::string& text) {
    errno = 0;
    if (std::fputs(text.c_str(), stream) < 0 || std::fflush(stream) != 0 || std::ferror(stream)) {
        if (m_writeError.empty()) {
            m_writeError = std::string(stream == m_out ? "standard output" : "standard error") +
                           ": " + (errno != 0 ? std::strerror(errno) : "write error");
        }
    }
}

}  // namespace quillon
