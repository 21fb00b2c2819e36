#pragma once

// What the programs in bench/ share: HEX files built in code, quillon-sim as a child process,
// and one job run on a JobRunner the way the command line runs it.
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "image/hex_image.h"
#include "link/job_events.h"
#include "link/job_request.h"
#include "link/job_runner.h"

namespace quillon {

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

// What one job reported, collected from its thread: the log (appended text joined to its
// line) and its done events. Shared between the job and its waiter, so that a job that never
// ends keeps its events alive.
class JobWatch : public JobEventSink {
public:
    explicit JobWatch(std::function<void(const std::string& line)> onLine = {})
        : m_onLine(std::move(onLine)) {}

    void OnJobEvent(const JobEvent& event) override;

    // Waits until the first done event or `until`; true when it came.
    bool WaitDone(std::chrono::steady_clock::time_point until);
    void WaitDone();
    int DoneCount();
    std::optional<JobResult> Result();
    std::vector<std::string> Log();

private:
    void OnLine(const std::string& text);
    void OnAppend(const std::string& text);
    void OnDone(const JobResult& result);

    std::function<void(const std::string& line)> m_onLine;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_log;
    std::optional<JobResult> m_result;
    int m_doneCount = 0;
};

// The owner's side of the jobs, as the command line has it: one runner whose jobs share the
// line the last Initialize opened.
struct Host {
    Host(const std::string& port, int baud);
    ~Host();  // ends the runner (its running job told to stop) before the watches go
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    LineSettings line;
    Timeouts timeouts;
    // The events of jobs that did not end, kept as long as the runner that may still report
    // to them.
    std::vector<std::shared_ptr<JobWatch>> watches;
    std::unique_ptr<JobRunner> runner;
};

// One job run to its end: started on the runner, everything it reports collected until its
// done event.
struct JobRun {
    bool done = false;
    JobResult result;
    std::vector<std::string> log;
    int doneMessages = 0;  // done events of this job (exactly one when it ended right)
    bool overran = false;  // not done by the deadline, so it was told to stop
    std::shared_ptr<JobWatch> watch;

    bool succeeded() const { return done && result.succeeded(); }
    bool aborted() const { return done && result.aborted(); }
};
// `onLine` sees each log line as it comes (on the job's thread). With a `deadline`, a job
// that has not ended by then is told to stop and given `stopGrace` more to end; `done` stays
// false when it does not, and the job is left running (the caller decides what to do with
// the host). Without a deadline the job is waited for until it ends.
JobRun RunJob(Host& host, std::variant<InitializeRequest, DownloadRequest> job,
              const std::function<void(const std::string& line)>& onLine = {},
              std::chrono::milliseconds deadline = std::chrono::milliseconds::zero(),
              std::chrono::milliseconds stopGrace = std::chrono::seconds(15));

// Reads a HEX file once, as the command line does before its download; exits the benchmark
// when it cannot.
std::shared_ptr<const HexImage> ReadImage(const std::string& path);

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

}  // namespace quillon
