#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// What to tell the operator when the target's answers on `port` came `delayUs` (a median)
// after their frames, as a USB serial adapter's latency timer holds them back: one line that
// says so and how to lower the timer on this system.
std::string LatencyTimerAdvice(const std::string& port, std::uint64_t delayUs);

// True when `text` is a line of LatencyTimerAdvice (for a port, whatever the delay).
bool IsLatencyTimerAdvice(const std::string& text);

// How to lower the latency timer of `port` on this system (the end of the advice).
std::string LatencyTimerHowTo(const std::string& port);

}  // namespace quillon
