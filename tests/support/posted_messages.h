#pragma once

#include <string>
#include <vector>

#include "link/messages.h"

// The texts of the log lines waiting in `owner`, taken in order (each string freed).
inline std::vector<std::string> TakeLogLines(MessageQueue& owner) {
    std::vector<std::string> lines;
    while (auto message = owner.TryTake()) {
        if (message->message == UM_LOG_LINE) {
            lines.push_back(*TakePostedString(message->lParam));
        } else {
            DiscardPostedMessage(*message);
        }
    }
    return lines;
}

// Frees whatever still waits in `owner`.
inline void DiscardAll(MessageQueue& owner) {
    while (auto message = owner.TryTake()) {
        DiscardPostedMessage(*message);
    }
}
