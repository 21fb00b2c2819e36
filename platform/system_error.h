#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// Sets the calling thread's last-error value of the system (Windows' GetLastError), so that a
// caller of the port listing that asks the system finds the listing's error there too. Elsewhere
// the listing's own error is all there is, and this does nothing.
void SetSystemLastError(std::uint32_t code);

// The system's own text for the error `code` of its last-error kind (Windows' GetLastError),
// UTF-8, without the closing period and line end; "error N" when the system has none.
std::string SystemErrorText(std::uint32_t code);

}  // namespace quillon
