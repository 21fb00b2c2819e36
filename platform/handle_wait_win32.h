#pragma once

#include <windows.h>

#include <vector>

#include "platform/child_process.h"

// The handle waiting that the Win32 halves of platform/ share.

namespace quillon {

// Waits until one of `handles` or one of the `stations`' processes is signalled, or
// `timeoutMs` (-1: no limit) has passed. While stations run, and where `lookInTurn` says that
// something cannot be waited for (a pipe, input that is no console, a missing event), the
// wait ends after a short while for the caller to look; more handles than one wait takes are
// looked at in that rhythm, too. For the Win32 halves of platform/ only.
void WaitForStationsOrHandles(std::vector<HANDLE> handles,
                              const std::vector<ChildProcess*>& stations, int timeoutMs,
                              bool lookInTurn);

}  // namespace quillon
