#pragma once

#include <cstdint>

namespace quillon {

// The failure code that port enumeration leaves for its caller, kept per thread like the
// platform's own "last error". On Windows setting it also sets the thread's Win32 last error,
// so callers may read either. The registry way reports Windows system error codes (the values
// below); the Linux way reports errno values.
using ComPortError = std::uint32_t;

ComPortError GetLastComPortError();
void SetLastComPortError(ComPortError code);

// Windows system error codes that the registry way produces or treats specially.
inline constexpr ComPortError kErrorSuccess = 0;
inline constexpr ComPortError kErrorFileNotFound = 2;
inline constexpr ComPortError kErrorAccessDenied = 5;
inline constexpr ComPortError kErrorInvalidHandle = 6;
inline constexpr ComPortError kErrorNotEnoughMemory = 8;
inline constexpr ComPortError kErrorInvalidParameter = 87;
inline constexpr ComPortError kErrorMoreData = 234;
inline constexpr ComPortError kErrorNoMoreItems = 259;

}  // namespace quillon
