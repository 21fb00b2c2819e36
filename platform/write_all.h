#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "helpers/result.h"

namespace quillon {

// A write of everything that gives up when the reader stops taking bytes, for any stream that
// takes bytes in pieces (a serial device, a TCP connection, a pipe or file of the simulator).
//
// `writeSome` writes what it can of the bytes it is given without blocking and says how many
// it wrote (0: none for now), or fails. `waitWritable` blocks until the stream takes bytes
// again (true) or `stallMs` has passed (false), or fails. When no byte went out for
// `stallMs`, the write fails with a kTimeout error of `stallText`; any other failure is
// passed on as the callbacks report it.
struct StalledWrite {
    std::function<Result<std::size_t>(const std::uint8_t* bytes, std::size_t count)> writeSome;
    std::function<Result<bool>(int stallMs)> waitWritable;
    int stallMs = 2000;
    std::string stallText;
};

// Why a write that the system took only in part failed: "only 10 of 20 bytes written".
std::string ShortWriteText(std::size_t written, std::size_t size);

[[nodiscard]] Status WriteAllWithStallLimit(const std::uint8_t* bytes, std::size_t count,
                                            const StalledWrite& stream);

}  // namespace quillon
