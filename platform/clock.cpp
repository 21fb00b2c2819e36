#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace quillon {

std::uint64_t SteadyClock::NowMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

std::uint64_t SteadyClock::NowUs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

void SteadyClock::SleepUntilMs(std::uint64_t ms) {
    const auto now = NowMs();
    if (ms > now) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms - now));
    }
}

Clock& SystemClock() {
    static SteadyClock clock;
    return clock;
}

}  // namespace quillon
