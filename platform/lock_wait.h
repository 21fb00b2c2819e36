#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "helpers/result.h"
#include "platform/clock.h"

namespace quillon {

// Takes a lock that another program may hold for a moment: `tryLock` tries once without
// waiting (true: taken, false: held by another program, or an error that ends the wait). While
// it is held, tries again every 5 ms until `patience` has passed on `clock` (a kBusy error of
// `busyText`) or `stop` says so (a kAborted error, "aborted"): a lock left held by a hung
// program can neither hold a run forever nor an abort up.
[[nodiscard]] Status WaitForLock(const std::function<Result<bool>()>& tryLock,
                                 std::chrono::milliseconds patience,
                                 const std::function<bool()>& stop, Clock& clock,
                                 const std::string& busyText);

}  // namespace quillon
