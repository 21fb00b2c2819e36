#include "platform/latency_timer.h"

#include "helpers/text_format.h"

namespace quillon {

namespace {
constexpr const char* kAdviceMiddle =
    " after each block (median), held back by the adapter's latency timer; lowered to 1 ms it "
    "speeds the download up: ";
}  // namespace

std::string LatencyTimerAdvice(const std::string& port, std::uint64_t delayUs) {
    // Whole numbers only: the text must not depend on the locale's decimal sign.
    const std::uint64_t tenths = (delayUs + 50) / 100;
    return port +
           FormatText(": the target's answers came %llu.%llu ms",
                      static_cast<unsigned long long>(tenths / 10),
                      static_cast<unsigned long long>(tenths % 10)) +
           kAdviceMiddle + LatencyTimerHowTo(port);
}

bool IsLatencyTimerAdvice(const std::string& text) {
    return text.find(kAdviceMiddle) != std::string::npos;
}

}  // namespace quillon
