#pragma once

#include <string>
#include <vector>

namespace quillon {

// The production chaos soak: every cycle 3 to 6 fresh quillon-sim targets with random faults,
// one quillon-cli production run over all their ports, and at random moments faults of the
// run itself; the record, the exit status and the summary judged against the targets' reports.
// `args` are the options after --production (--cli QUILLON_CLI among them). Returns the exit
// status: 0 when every cycle passed, 1 otherwise, 2 on a bad option.
int RunProductionSoak(const std::string& simProgram, const std::vector<std::string>& args);

}  // namespace quillon
