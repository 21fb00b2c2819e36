#pragma once

// What the programs in bench/ share: HEX files built in code, quillon-sim as a child process,
// and one job run on the worker the way the window runs it.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "link/messages.h"
#include "link/worker_thread.h"

namespace bench {

// A monitor file for the virtual target: sync 0x00, ident 0x6B, loader acknowledge 0x3C, flash
// type "VF16", a 32-byte Level 0 of a 448-byte loader in segment 1, the monitor in segment 2.
void WriteMonitorFile(const std::filesystem::path& path, std::size_t monitorBytes,
                      std::uint16_t eraseAllSectorCount = 0);
// An image file holding `bytes` at each 24-bit address.
void WriteImageFile(const std::filesystem::path& path,
                    const std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>& parts);

// quillon-sim as a child process; `port` is the line it printed first.
struct SimProcess {
    pid_t pid = -1;
    std::string port;
};
// Starts `program` with `args` (after the program name); exits the benchmark when it cannot.
SimProcess StartSim(const std::string& program, const std::vector<std::string>& args);
// SIGTERM, then waits; returns its exit status (-1 when a signal ended it).
int StopSim(SimProcess& sim);

// The window's side of the jobs: a worker thread, the queue it posts to and the job record.
struct Host {
    Host(const std::string& port, int baud);
    ~Host();  // ends the worker unless End() did
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // Ends the worker (after its running job) and drops what it posted that nobody took;
    // returns how many of those were done messages.
    int End();

    std::atomic<int> eraseAll{0};
    MessageQueue owner;
    ThreadPtr<CWorkerThread> worker;
    JobParams job;
};

// One job as the window runs it: flag cleared, message posted, everything that comes back
// collected until the done message.
struct JobRun {
    bool done = false;
    WParam aborted = 0;
    LParam succeeded = 0;
    std::vector<std::string> log;  // appended text joined to its line
    int doneMessages = 0;          // done messages of any job taken while this one ran
    bool overran = false;          // not done by the deadline, so it was told to stop
};
// `onLine` sees each log line as it comes. With a `deadline`, a job that has not ended by
// then is told to stop (g_bStopJob) and given `stopGrace` more to end; `done` stays false
// when it does not.
JobRun RunJob(Host& host, unsigned message, unsigned doneMessage,
              const std::function<void(const std::string& line)>& onLine = {},
              std::chrono::milliseconds deadline = std::chrono::milliseconds::zero(),
              std::chrono::milliseconds stopGrace = std::chrono::seconds(15));

// The soaks' images: stretches of bytes at 24-bit addresses.
struct SoakImage {
    static constexpr std::uint32_t kSectorSize = 0x10000;
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> parts;

    std::set<int> Sectors() const;
    // The blocks the host sends: each used sector from its start up to its last byte.
    int BlockCount() const;
    // Puts the image into `flash` (16 MB), over the sectors it uses erased to 0xFF.
    void ApplyTo(std::vector<std::uint8_t>& flash) const;
};
// Cycle `c`'s image: one stretch somewhere in sectors 0 to 5, a short one in sector 8 to 10;
// sizes, places and contents change from cycle to cycle.
SoakImage CycleImage(unsigned c);

// The target's report: the SHA-256 of every programmed sector.
std::map<int, std::string> SectorDigests(const std::string& json);

}  // namespace bench
