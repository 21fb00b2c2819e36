#include "link/messages.h"

std::atomic<int> g_bStopJob{1};

namespace {

bool PostString(MessageTarget* owner, unsigned message, const std::string& text) {
    auto copy = std::make_unique<std::string>(text);
    if (owner == nullptr || !owner->Post(message, 0, reinterpret_cast<LParam>(copy.get()))) {
        return false;  // still ours: freed on the way out
    }
    copy.release();  // the receiver's now
    return true;
}

}  // namespace

bool PostLogLine(MessageTarget* owner, const std::string& text) {
    return PostString(owner, UM_LOG_LINE, text);
}

bool PostLogAppend(MessageTarget* owner, const std::string& text) {
    return PostString(owner, UM_LOG_APPEND, text);
}

std::unique_ptr<std::string> TakePostedString(LParam lParam) {
    return std::unique_ptr<std::string>(reinterpret_cast<std::string*>(lParam));
}

void DiscardPostedMessage(const QueuedMessage& message) {
    if (message.message == UM_LOG_LINE || message.message == UM_LOG_APPEND) {
        TakePostedString(message.lParam);
    }
}
