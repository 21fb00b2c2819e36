#include "platform/message_box.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace {

std::mutex g_handlerMutex;
MessageBoxHandler g_handler;

void PrintToStderr(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace

void ShowMessageBox(const std::string& text) {
    MessageBoxHandler handler;
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        handler = g_handler;
    }
    // The handler runs without the lock: it may block for as long as the operator takes.
    if (handler) {
        handler(text);
    } else {
        PrintToStderr(text);
    }
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    return std::exchange(g_handler, std::move(handler));
}
