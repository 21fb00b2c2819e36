#include "app/window_message_target.h"

#include <QCoreApplication>

#include "link/messages.h"

PostedMessageEvent::PostedMessageEvent(unsigned message, WParam wParam, LParam lParam)
    : QEvent(Type()), m_message(message), m_wParam(wParam), m_lParam(lParam) {}

PostedMessageEvent::~PostedMessageEvent() {
    if (!m_taken) {
        DiscardPostedMessage(QueuedMessage{m_message, m_wParam, m_lParam});
    }
}

QEvent::Type PostedMessageEvent::Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

LParam PostedMessageEvent::TakeLParam() {
    m_taken = true;
    return m_lParam;
}

bool WindowMessageTarget::Post(unsigned message, WParam wParam, LParam lParam) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_receiver == nullptr) {
        return false;
    }
    // The event queue owns the event from here on; the receiver's destruction (after Detach)
    // deletes events still queued, and with them their strings.
    QCoreApplication::postEvent(m_receiver, new PostedMessageEvent(message, wParam, lParam));
    return true;
}

void WindowMessageTarget::Detach() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_receiver = nullptr;
}
