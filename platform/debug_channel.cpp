#include "platform/debug_channel.h"

#include <cstdio>
#include <mutex>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::mutex g_handlerMutex;
DebugTextHandler g_handler;

void PlatformDebugOutput(const std::string& text) {
#ifdef _WIN32
    OutputDebugStringA(text.c_str());
#else
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
#endif
}

}  // namespace

void OutputDebugText(const std::string& text) {
    DebugTextHandler handler;
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        handler = g_handler;
    }
    if (handler) {
        handler(text);
    } else {
        PlatformDebugOutput(text);
    }
}

DebugTextHandler SetDebugTextHandler(DebugTextHandler handler) {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    return std::exchange(g_handler, std::move(handler));
}
