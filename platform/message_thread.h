#pragma once

#include <cstddef>
#include <memory>
#include <thread>
#include <utility>

#include "platform/message_queue.h"

// A thread with its own message queue and message loop. Other threads post thread messages
// to it; the loop hands each one, in order, to the handler that the derived class binds to
// its id in a message map, and runs it to its end before it takes the next message.
//
// Life: BeginThread creates the object and starts its thread at once. A handler ends the
// loop with PostQuitMessage; ExitInstance then runs on the thread and the thread ends. The
// owner waits for that with WaitForEnd and only then destroys the object. The pointer that
// BeginThread returns does so itself if the owner did not: it closes the queue, lets the loop
// run out and joins the thread before any member is destroyed, since a handler may
// still use every one of them. The destructor only checks that the thread has ended.
class MessageThread {
public:
    MessageThread() = default;
    virtual ~MessageThread();
    MessageThread(const MessageThread&) = delete;
    MessageThread& operator=(const MessageThread&) = delete;

    // Queues a message for the thread; false once its loop has ended.
    bool PostThreadMessage(unsigned message, WParam wParam, LParam lParam);

    // Waits, without a time limit, until the thread has ended. Returns its exit code.
    int WaitForEnd();

    // Takes no more posts, lets the loop handle what is queued already and end, and waits
    // for the thread's end. A handler that waits for something has to be told to stop
    // first; the worker's jobs read the abort request.
    void EndThread();

    std::thread::id ThreadId() const { return m_thread.get_id(); }

    // Starts the thread: InitInstance, then the message loop if it returned true.
    void Start();

protected:
    // Runs first on the new thread; false ends the thread without entering the loop.
    virtual bool InitInstance() { return true; }
    // Runs last on the thread; the result is the thread's exit code.
    virtual int ExitInstance() { return m_exitCode; }
    // Hands one message to its handler; false when the message map has none for it.
    virtual bool DispatchThreadMessage(unsigned message, WParam wParam, LParam lParam) = 0;

    // Ends the message loop once the running handler returns, with `exitCode`.
    void PostQuitMessage(int exitCode);

private:
    void Run();

    MessageQueue m_queue;
    std::thread m_thread;
    bool m_quit = false;
    int m_exitCode = 0;
    int m_result = 0;
};

// One entry of a message map: a message id and the member that handles it.
template <class T>
struct MessageMapEntry {
    unsigned message;
    void (T::*handler)(WParam wParam, LParam lParam);
};

// Looks `message` up in `map` and calls its handler on `self`.
template <class T, std::size_t N>
bool DispatchFromMessageMap(T& self, const MessageMapEntry<T> (&map)[N], unsigned message,
                            WParam wParam, LParam lParam) {
    for (const MessageMapEntry<T>& entry : map) {
        if (entry.message == message) {
            (self.*entry.handler)(wParam, lParam);
            return true;
        }
    }
    return false;
}

// Deletes a MessageThread only after its thread has ended.
struct EndThreadAndDelete {
    void operator()(MessageThread* thread) const {
        thread->EndThread();
        delete thread;
    }
};

template <class T>
using ThreadPtr = std::unique_ptr<T, EndThreadAndDelete>;

// Creates a T (a MessageThread) and starts its thread at once.
template <class T, class... Args>
ThreadPtr<T> BeginThread(Args&&... args) {
    ThreadPtr<T> thread(new T(std::forward<Args>(args)...));
    thread->Start();
    return thread;
}
