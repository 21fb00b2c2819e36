#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "helpers/result.h"
#include "platform/pseudo_terminal.h"

namespace quillon {

// What the virtual target's serving loop waits for, in the kernel: news on its pseudo-terminal
// (bytes from the host, room to write again, a host opening or closing the line), a one-byte
// code posted by another thread or a signal handler, or an absolute deadline on the steady
// clock (a timer, so that the waits never drift from the bytes' due times).
class LineWait {
public:
    LineWait();
    ~LineWait();
    LineWait(const LineWait&) = delete;
    LineWait& operator=(const LineWait&) = delete;

    // Whether codes can be posted; an error names what could not be made.
    [[nodiscard]] Status Ready() const;
    // Only writes one byte to a pipe, so a signal handler may call it.
    void Post(char code);

    // What ended a wait.
    struct News {
        bool line = false;          // anything on the master, a close or an error included
        bool lineReadable = false;  // bytes from the host, or its side closed
        bool lineWritable = false;  // room again after a write that found none
        bool hostChange = false;    // an open or close notice of the device node waits
        std::string codes;          // the codes posted since the last wait, in their order
    };
    // Waits on `line`'s master (unless `quietLine`), for room on it too with `forRoom`, on its
    // device node watch and the posted codes, until `deadline` (none: no limit; at or before
    // now: only looks). An error when the wait itself failed.
    [[nodiscard]] Result<News> Wait(const PseudoTerminal& line, bool quietLine, bool forRoom,
                                    std::optional<std::chrono::steady_clock::time_point> deadline);

    // Wake-ups of this thread come as close to their deadlines as the system allows (by
    // default a sleeping thread may wake up some 50 µs late, a good part of a character time
    // at high baud rates).
    static void WakeUpPromptly();

private:
    int m_wake[2] = {-1, -1};
    int m_timer = -1;  // wakes the wait at an absolute deadline; -1 where there is none
};

}  // namespace quillon
