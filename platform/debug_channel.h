#pragma once

#include <functional>
#include <string>

// The debug text channel: diagnostic text that is meant for a developer, never for the
// operator (for example the bytes of a partial answer from the target). On Windows it goes to
// the debugger output; elsewhere to stderr. Texts are passed on as they are, without a line
// break of their own.

using DebugTextHandler = std::function<void(const std::string& text)>;

void OutputDebugText(const std::string& text);

// Installs `handler` for every later OutputDebugText call and returns the one it replaces.
// An empty handler restores the platform default.
DebugTextHandler SetDebugTextHandler(DebugTextHandler handler);
