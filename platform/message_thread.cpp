#include "platform/message_thread.h"

#include <cstdlib>

#include "platform/debug_channel.h"

MessageThread::~MessageThread() {
    // Joining here would be too late: the derived object's members are gone already while a
    // handler may still run on them. Its owner (or ThreadPtr) ends the thread first.
    if (m_thread.joinable()) {
        OutputDebugText("MessageThread destroyed while its thread runs\n");
        std::abort();
    }
}

void MessageThread::EndThread() {
    m_queue.Close();
    WaitForEnd();
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
