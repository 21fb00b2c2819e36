#include "platform/message_thread.h"

MessageThread::~MessageThread() {
    // The owner waits for the end before destroying; this only guards against a thread that
    // was never told to quit, so the process does not abort on a joinable std::thread.
    if (m_thread.joinable()) {
        m_queue.Close();
        m_thread.join();
    }
}

void MessageThread::Start() {
    m_thread = std::thread([this] { Run(); });
}

bool MessageThread::PostThreadMessage(unsigned message, WParam wParam, LParam lParam) {
    return m_queue.Post(message, wParam, lParam);
}

void MessageThread::PostQuitMessage(int exitCode) {
    m_quit = true;
    m_exitCode = exitCode;
}

int MessageThread::WaitForEnd() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
    return m_result;
}

void MessageThread::Run() {
    if (InitInstance()) {
        while (!m_quit) {
            const std::optional<QueuedMessage> next = m_queue.Take();
            if (!next) {
                break;  // closed from outside
            }
            DispatchThreadMessage(next->message, next->wParam, next->lParam);
        }
    }
    // Later posts fail, so their senders keep what the messages point to.
    m_queue.Close();
    m_result = ExitInstance();
}
