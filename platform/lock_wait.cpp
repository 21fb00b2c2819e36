#include "platform/lock_wait.h"

namespace quillon {

namespace {

constexpr std::uint64_t kLockRetryMs = 5;

}  // namespace

Status WaitForLock(const std::function<Result<bool>()>& tryLock, std::chrono::milliseconds patience,
                   const std::function<bool()>& stop, Clock& clock, const std::string& busyText) {
    const std::uint64_t giveUp = clock.NowMs() + static_cast<std::uint64_t>(patience.count());
    for (;;) {
        Result<bool> taken = tryLock();
        if (!taken) {
            return Fail(std::move(taken).error());
        }
        if (*taken) {
            return {};
        }
        if (stop && stop()) {
            return Fail(ErrorKind::kAborted, "aborted");
        }
        const std::uint64_t now = clock.NowMs();
        if (now >= giveUp) {
            return Fail(ErrorKind::kBusy, busyText);
        }
        clock.SleepUntilMs(now + kLockRetryMs);
    }
}

}  // namespace quillon
