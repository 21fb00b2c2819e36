#pragma once

#include <cstdint>

namespace quillon {

// Where the jobs take the time from: milliseconds on a monotonic count. The real clock is
// SteadyClock; tests put a virtual one in its place, so that time-outs pass without waiting.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint64_t NowMs() = 0;
    // Microseconds on the same count, for what a millisecond cannot resolve (an answer's
    // delay); a clock without a finer count gives its milliseconds.
    virtual std::uint64_t NowUs() { return NowMs() * 1000; }
    // Blocks until NowMs() has reached `ms`.
    virtual void SleepUntilMs(std::uint64_t ms) = 0;
};

// The system's monotonic clock.
class SteadyClock : public Clock {
public:
    std::uint64_t NowMs() override;
    std::uint64_t NowUs() override;
    void SleepUntilMs(std::uint64_t ms) override;
};

// The process's one SteadyClock, for whatever is not given a clock of its own.
Clock& SystemClock();

}  // namespace quillon
