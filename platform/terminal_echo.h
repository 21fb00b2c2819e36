#pragma once

namespace quillon {

// Keeps what the operator types off the screen while a program redraws lines in place: the
// terminal on standard input stops echoing for as long as this object lives. The echo comes
// back when it goes, and also when the program is ended by a signal it does not catch
// otherwise (a crash, an abort, Ctrl+\), so that the shell after it is never left blind; after
// a stop (Ctrl+Z) and back in the foreground it is off again.
// Nothing changes when standard input is no terminal (a console on Windows), or when the
// program runs in the background of its terminal.
class TerminalEchoOff {
public:
    TerminalEchoOff();
    ~TerminalEchoOff();
    TerminalEchoOff(const TerminalEchoOff&) = delete;
    TerminalEchoOff& operator=(const TerminalEchoOff&) = delete;

    // True while the echo is off through this object.
    bool active() const { return m_active; }

private:
    bool m_active = false;
};

}  // namespace quillon
