#pragma once

#include <string>

#include "helpers/result.h"
#include "link/job_events.h"

namespace quillon {

// A station's program tells the production run about its board through its standard output,
// one JobEvent per line: a letter for the kind, then the event's fields, each after a tab,
// with backslashes, tabs and line breaks in their texts escaped.

// The event as one line with its line end.
std::string EncodeJobEvent(const JobEvent& event);

// The event of one line (without its line end). An error (kInvalidData) for a line that is no
// event, for example a message the program wrote to stderr, which shares the pipe.
[[nodiscard]] Result<JobEvent> DecodeJobEvent(const std::string& line);

}  // namespace quillon
