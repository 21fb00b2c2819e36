#pragma once

#include <cstdint>
#include <string>

#include "helpers/result.h"
#include "link/target_line.h"

namespace quillon {

// How many monitor bytes Initialize lets travel before it waits for the oldest one's echo: 1 is
// lock step, each byte waiting for its echo. Larger windows need a target whose loader takes
// bytes as fast as the wire brings them. At most as many as the line's buffer holds answers.
struct EchoWindow {
    static constexpr std::uint32_t kLockStep = 1;
    static constexpr std::uint32_t kLargest = static_cast<std::uint32_t>(TargetLine::kBufferSize);

    std::uint32_t bytes = kLockStep;

    friend constexpr bool operator==(EchoWindow, EchoWindow) = default;
};

// The window `text` names in decimal, from 1 to EchoWindow::kLargest; else an error of kind
// kUsage whose text says what is taken ("a number from 1 to 1024").
[[nodiscard]] Result<EchoWindow> ParseEchoWindow(const std::string& text);

}  // namespace quillon
