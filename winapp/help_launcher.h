#pragma once

#include <windows.h>

#include <string>

#include "helpers/result.h"

namespace quillon {

// Opens the help file `path` (UTF-8, a PDF) in the program Windows associates with it
// (FindExecutableW): an error of kind kNotFound for no file or no program for it, of kind
// kFailed for a program that would not start. The program starts with the command line
// "<program>" "<path>", both quoted, shown normally; the call waits until it is ready for
// input, at most kHelpViewerIdleTimeoutMs, with the wait cursor up meanwhile.
Status LaunchHelpViewer(const std::string& path);

// LaunchHelpViewer, a failure shown to the operator in a message box owned by `owner`, in the
// words of HelpLaunchMessage.
void ShowHelp(HWND owner, const std::string& path);

inline constexpr DWORD kHelpViewerIdleTimeoutMs = 10000;

// The command line for `viewer` with the file `path`: both quoted.
std::wstring HelpViewerCommandLine(const std::wstring& viewer, const std::wstring& path);

}  // namespace quillon
