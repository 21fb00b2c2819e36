#pragma once

#include <QEvent>
#include <mutex>

#include "platform/message_target.h"

class QObject;

// A message from the worker on its way to the window, as a Qt event: the message id and its
// two values. The event owns what the message carries (the string of a log message) until
// the receiver takes it, so an event that is dropped unhandled frees its string.
class PostedMessageEvent : public QEvent {
public:
    PostedMessageEvent(unsigned message, WParam wParam, LParam lParam);
    ~PostedMessageEvent() override;
    PostedMessageEvent(const PostedMessageEvent&) = delete;
    PostedMessageEvent& operator=(const PostedMessageEvent&) = delete;

    // The event type all posted messages share.
    static QEvent::Type Type();

    unsigned message() const { return m_message; }
    WParam wParam() const { return m_wParam; }
    // Hands the lParam over with whatever it owns; the event frees nothing afterwards.
    LParam TakeLParam();

private:
    unsigned m_message;
    WParam m_wParam;
    LParam m_lParam;
    bool m_taken = false;
};

// Where the worker posts to reach a window: each Post queues a PostedMessageEvent for the
// receiver in the receiver's thread, from any thread, without blocking. Once detached (the
// window is being destroyed) Post refuses, so the sender keeps, and frees, what it posted.
class WindowMessageTarget : public MessageTarget {
public:
    explicit WindowMessageTarget(QObject* receiver) : m_receiver(receiver) {}

    bool Post(unsigned message, WParam wParam, LParam lParam) override;

    // After this no post reaches the receiver.
    void Detach();

private:
    std::mutex m_mutex;  // keeps the receiver alive for the length of a post
    QObject* m_receiver;
};
