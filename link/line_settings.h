#pragma once

#include <cstdint>
#include <string>

#include "platform/baud_rate.h"

namespace quillon {

// The line a job runs on: the port as the port list names it, and its speed (8 data bits, no
// parity, one stop bit and no flow control always).
// The port taken when none was chosen (the window's first start).
inline constexpr const char* kDefaultPortName = "COM1";

struct LineSettings {
    std::string port = kDefaultPortName;
    BaudRate baud = kDefaultBaudRate;
};

// How long the jobs wait for each kind of answer, in milliseconds.
struct Timeouts {
    std::uint32_t handshakeMs = 1000;    // the ident byte, the loader's acknowledge, the echo
                                         // of the monitor's opening bytes, "monitor runs"
    std::uint32_t ramTestMs = 10000;     // the RAM test report
    std::uint32_t echoMs = 500;          // each monitor byte's echo
    std::uint32_t eraseAnswerMs = 1000;  // an erase command's first answer (the flash type)
    std::uint32_t eraseDoneMs = 10000;   // the erase's completion
    std::uint32_t blockMs = 3000;        // a block's answer, the finalize's answer
    // After a block was sent again, the line counts as settled once nothing arrived for this
    // long: time for the target to take a block, program it and answer.
    std::uint32_t settleQuietMs = 500;

    // The longest of them: the longest a job waits without a step of its own.
    constexpr std::uint32_t LongestMs() const {
        std::uint32_t longest = 0;
        for (const std::uint32_t ms :
             {handshakeMs, ramTestMs, echoMs, eraseAnswerMs, eraseDoneMs, blockMs, settleQuietMs}) {
            longest = ms > longest ? ms : longest;
        }
        return longest;
    }
};

}  // namespace quillon
