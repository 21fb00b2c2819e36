#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "helpers/result.h"

namespace quillon {

// One station's program, started by the production run: its standard input is a pipe that
// the run closes to ask for an abort, its standard output and error one pipe that the run
// reads without blocking.
class ChildProcess {
public:
    ChildProcess();
    // A program still running is killed and waited for: nothing outlives its owner.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `argv` (argv[0] the program's path). An error saying why when it could not be
    // started.
    [[nodiscard]] Status Start(const std::vector<std::string>& argv);
    bool Running() const;
    // What the system waits on for this program: on POSIX systems the descriptor of its
    // output (-1 once the output has ended); on Windows its process handle, signalled when the
    // program has ended (the output of a pipe cannot be waited for there; the run looks at it
    // after each wait).
    std::intptr_t WaitHandle() const;
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
    // Kills a program still running, waits for it and closes the pipes.
    void EndWithOwner();
    // Adds `count` bytes of output: whole lines go to `lines` (a carriage return before the
    // line end dropped), the rest waits for its end.
    void TakeBytes(const char* bytes, std::size_t count, std::vector<std::string>& lines);
    // At the end of the output: what is left, as a last line.
    void TakeRest(std::vector<std::string>& lines);

    // The system's process and the run's ends of its pipes.
    struct Impl;

    std::unique_ptr<Impl> m_impl;
    std::string m_partial;  // the start of a line not yet ended
};

}  // namespace quillon
