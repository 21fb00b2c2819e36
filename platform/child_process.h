#pragma once

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/types.h>
#endif

namespace quillon {

// One station's program, started by the production run: its standard input is a pipe that
// the run closes to ask for an abort, its standard output and error one pipe that the run
// reads without blocking.
class ChildProcess {
public:
    ChildProcess() = default;
    // A program still running is killed and waited for: nothing outlives its owner.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `argv` (argv[0] the program's path). False, with the reason in `error`, when it
    // could not be started.
    [[nodiscard]] bool Start(const std::vector<std::string>& argv, std::string& error);
#ifdef _WIN32
    bool Running() const {
        return m_process != nullptr;
    }
    // The process handle, signalled when the program has ended (the output of a pipe cannot
    // be waited for on Windows; the run looks at it after each wait).
    HANDLE ProcessHandle() const {
        return m_process;
    }
#else
    bool Running() const {
        return m_pid > 0;
    }
    // The descriptor to wait on for output; -1 once the output has ended.
    int OutputFd() const {
        return m_output;
    }
#endif
    // Takes what the program wrote so far; whole lines go to `lines` (without line ends).
    // Returns false once the output has ended (the rest, if any, as a last line).
    [[nodiscard]] bool Read(std::vector<std::string>& lines);
    // Closes the program's input: it ends its job at the next step.
    void RequestAbort();
    void Kill();
    // Waits for the program's end (after its output ended) and returns its exit status,
    // 128 + the signal's number when a signal ended it. A program still running 2 s after
    // its output ended is killed (137).
    [[nodiscard]] int Wait();

private:
    void CloseFds();
    // Adds `count` bytes of output: whole lines go to `lines` (a carriage return before the
    // line end dropped), the rest waits for its end.
    void TakeBytes(const char* bytes, std::size_t count, std::vector<std::string>& lines);
    // At the end of the output: what is left, as a last line.
    void TakeRest(std::vector<std::string>& lines);

#ifdef _WIN32
    HANDLE m_process = nullptr;
    HANDLE m_input = nullptr;
    HANDLE m_output = nullptr;
#else
    pid_t m_pid = -1;
    int m_input = -1;
    int m_output = -1;
#endif
    std::string m_partial;  // the start of a line not yet ended
};

}  // namespace quillon
