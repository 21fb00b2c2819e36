#pragma once

#include <memory>
#include <vector>

#include "platform/child_process.h"

namespace quillon {

// What a production run's own thread waits for: its stations' output and ends, or a wake-up
// from another thread (the operator's command, a stop). Unlike WaitSet it leaves the process's
// signals and standard input alone, so that the run can live in a window's process.
class StationWait {
public:
    StationWait();
    ~StationWait();
    StationWait(const StationWait&) = delete;
    StationWait& operator=(const StationWait&) = delete;

    // Waits until one of `stations` has output or has ended, Wake was called (since the last
    // wait), or `timeoutMs` passed (-1: no limit).
    void Wait(const std::vector<ChildProcess*>& stations, int timeoutMs);
    // Ends the wait in progress, or the next one, at once. Safe from any thread.
    void Wake();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace quillon
