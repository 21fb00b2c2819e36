#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "platform/message_target.h"

struct QueuedMessage {
    unsigned message = 0;
    WParam wParam = 0;
    LParam lParam = 0;
};

// A thread-safe first-in first-out message queue. Any thread posts; one thread takes the
// messages in the order they were posted. Once closed, posts fail and takers see no more.
class MessageQueue : public MessageTarget {
public:
    bool Post(unsigned message, WParam wParam, LParam lParam) override;

    // Waits until a message is queued and takes it; nothing once the queue is closed and empty.
    std::optional<QueuedMessage> Take();
    // The same, waiting at most `timeoutMs` milliseconds.
    std::optional<QueuedMessage> TakeFor(std::uint32_t timeoutMs);
    // Takes a message only when one is already queued.
    std::optional<QueuedMessage> TryTake();

    // Refuses later posts. Messages already queued can still be taken.
    void Close();
    bool IsClosed() const;

private:
    std::optional<QueuedMessage> PopLocked();

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QueuedMessage> m_messages;
    bool m_closed = false;
};
