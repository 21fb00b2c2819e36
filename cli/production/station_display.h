#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "helpers/result.h"

namespace quillon {

// What a production run shows: each station's log lines on stdout, prefixed with its port
// ("PORT: line"); messages likewise on stderr; on a terminal, lines that are wider than it
// are wrapped at words (a file or pipe gets each line whole); and, when stderr is a terminal, one
// status line per station below them (its board, the log line in work or the progress, what it
// waits for), redrawn in place at most ten times a second.
class StationDisplay {
public:
    // `statusLines`: stderr is a terminal. `sharedTerminal`: stdout is that same terminal.
    StationDisplay(std::FILE* out, std::FILE* err, std::vector<std::string> ports, bool statusLines,
                   bool sharedTerminal);

    void Line(std::size_t station, const std::string& text);
    void Message(std::size_t station, const std::string& text);
    // A message about the whole run on stderr.
    void RunMessage(const std::string& text);
    void SetStatus(std::size_t station, const std::string& text);
    // Draws the status lines if they changed and the last drawing is old enough. Returns the
    // milliseconds until a change held back is due (-1: none is held back).
    int Refresh();
    // Removes the status lines and writes `text` (the summary) on stdout.
    void Finish(const std::string& text);
    // Whether everything reached its stream; else an error (kIo) saying which stream failed and
    // why.
    [[nodiscard]] Status Written() const;

private:
    void Erase();
    void Draw();
    void Write(std::FILE* stream, const std::string& text);
    // `text` with the station's prefix on each line; `terminal`: wrapped for the terminal.
    std::string Prefixed(std::size_t station, const std::string& text, bool terminal) const;
    // The columns a wrapped row may take.
    static std::size_t WrapColumns();

    std::FILE* m_out;
    std::FILE* m_err;
    std::vector<std::string> m_ports;  // escaped for the terminal
    std::size_t m_portWidth = 0;
    bool m_statusLines;
    bool m_sharedTerminal;
    std::vector<std::string> m_status;
    bool m_drawn = false;  // the status lines stand below the last output
    std::size_t m_drawnLines = 0;
    bool m_changed = false;
    std::chrono::steady_clock::time_point m_lastDraw;
    std::string m_writeError;
};

}  // namespace quillon
