#include "platform/message_queue.h"

#include <chrono>

bool MessageQueue::Post(unsigned message, WParam wParam, LParam lParam) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed) {
            return false;
        }
        m_messages.push_back(QueuedMessage{message, wParam, lParam});
    }
    m_changed.notify_one();
    return true;
}

std::optional<QueuedMessage> MessageQueue::PopLocked() {
    if (m_messages.empty()) {
        return std::nullopt;
    }
    QueuedMessage front = m_messages.front();
    m_messages.pop_front();
    return front;
}

std::optional<QueuedMessage> MessageQueue::Take() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_messages.empty() || m_closed; });
    return PopLocked();
}

std::optional<QueuedMessage> MessageQueue::TakeFor(std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                       [this] { return !m_messages.empty() || m_closed; });
    return PopLocked();
}

std::optional<QueuedMessage> MessageQueue::TryTake() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return PopLocked();
}

void MessageQueue::Close() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
    }
    m_changed.notify_all();
}

bool MessageQueue::IsClosed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closed;
}
