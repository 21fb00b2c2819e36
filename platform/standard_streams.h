#pragma once

namespace quillon {

// Makes sure descriptors 0, 1 and 2 are open before the program opens anything else. A
// program started with one of them closed would otherwise get that number for the next file
// it opens (a serial port, a report), and everything written to the closed stream would go
// into that file. Each closed one is opened on the null device.
//
// Returns a bit mask of the descriptors that were closed at start (bit 0 for stdin, bit 1 for
// stdout, bit 2 for stderr), so that a caller can treat a closed stdout as a log that cannot
// be written. On Windows a serial port is a handle, never a C descriptor, and this returns 0.
[[nodiscard]] int EnsureStandardStreams();

constexpr int kStdoutWasClosed = 1 << 1;
constexpr int kStderrWasClosed = 1 << 2;

// True when stdout and stderr lead to one file, pipe or device (as with `>log 2>&1`), so that
// what is written to one lands between what is written to the other.
bool OutputStreamsShareOnePlace();

}  // namespace quillon
