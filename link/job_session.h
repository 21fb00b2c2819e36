#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "image/monitor_header.h"
#include "link/byte_channel.h"
#include "link/job_events.h"
#include "link/job_request.h"
#include "platform/clock.h"

namespace quillon {

// Opens the line a job asks for: a local serial port (OpenSerialChannel) or, in tests, an
// in-memory line.
using ChannelOpener = std::function<OpenedChannel(const LineSettings&)>;

// What lasts from one job to the next: the line the last Initialize opened (it stays open
// between jobs) and the header of the monitor that Initialize accepted.
struct JobSession {
    std::unique_ptr<ByteChannel> channel;
    std::string port;                  // the name the channel was opened by
    BaudRate baud = kDefaultBaudRate;  // the rate it was opened with
    std::optional<MonitorHeader> header;
};

// Runs one job to its end on the calling thread. Its last event is exactly one done event; a stop
// request through `stop` ends it at its next poll point.
void RunJob(const JobRequest& request, JobSession& session, const ChannelOpener& opener,
            Clock& clock, std::stop_token stop, JobEventSink& events);

}  // namespace quillon
