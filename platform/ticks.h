#pragma once

#include <cstdint>

// A monotonic millisecond counter. It wraps around after about 49.7 days; elapsed times are
// unsigned 32-bit differences of two readings, which a wrap does not disturb.
std::uint32_t TickCountMs();

// Blocks the calling thread for `ms` milliseconds.
void SleepMs(std::uint32_t ms);
