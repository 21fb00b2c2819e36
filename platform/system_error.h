#pragma once

#include <cstdint>

// Sets the calling thread's last-error value of the system (Windows' GetLastError), so that a
// caller of the port listing that asks the system finds the listing's error there too. Elsewhere
// the listing's own error is all there is, and this does nothing.
void SetSystemLastError(std::uint32_t code);
