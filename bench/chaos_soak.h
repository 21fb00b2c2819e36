#pragma once

#include <string>
#include <vector>

namespace quillon {

// The chaos soak: every cycle a fresh quillon-sim playing a random mix of faults drawn from a
// seeded generator, Initialize + Start Download against it, and what the host claimed judged
// against the target's report. `args` are the options after --chaos. Returns the exit status:
// 0 without a false success, false failure, hang or wrong ending; 1 with one; 2 on a bad
// option.
int RunChaosSoak(const std::string& simProgram, const std::vector<std::string>& args);

}  // namespace quillon
