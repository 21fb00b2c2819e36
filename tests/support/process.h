#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace quillon {

// Runs programs of this build as child processes, for tests of whole programs.
struct ProcessResult {
    int exitCode = -1;  // 128 + signal number when a signal ended it
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::map<std::string, std::string> environment;  // added to (or replacing) the test's own
    // Called with everything the child wrote to stdout so far, after each new piece; may send
    // the child a signal (its pid is given).
    std::function<void(const std::string& out, int pid)> onOutput;
    // A terminal path to use as the child's stderr instead of a pipe (err stays empty).
    std::string stderrTerminal;
    // A path to open as the child's stdin (a terminal, for example) instead of /dev/null.
    std::string stdinFrom;
    // Where the child's stdout / stderr go instead of a pipe: "-" closed, "&1" (stderr only)
    // where stdout goes, else a path opened for writing (for example /dev/full). Empty: a
    // pipe that the test reads.
    std::string stdoutTo;
    std::string stderrTo;
    // After this many lines of stdout the test closes its end of the pipe, as `head -N` does
    // (0: read to the end).
    int stdoutLines = 0;
    int timeoutMs = 120000;
};

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// Waits until `condition` holds, looking again every few milliseconds, for at most `bound`.
// True when it came to hold: what another program does (a file it writes, a signal it
// answers) can only be looked at, not waited on.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound);

// A program that runs in the background while the test goes on, stdout read line by line.
class BackgroundProcess {
public:
    explicit BackgroundProcess(const std::vector<std::string>& argv,
                               const std::map<std::string, std::string>& environment = {});
    ~BackgroundProcess();  // SIGTERM, then waits
    // The next line of its stdout (without the line end), waiting at most `timeoutMs`.
    std::string ReadLine(int timeoutMs = 10000);
    // Ends it with SIGTERM and returns its exit code.
    int Stop();
    int pid() const { return m_pid; }

private:
    int m_pid = -1;
    int m_out = -1;
    std::string m_buffer;
};

}  // namespace quillon
