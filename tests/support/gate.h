#pragma once

#include <condition_variable>
#include <mutex>

namespace quillon {

// A signal from one test thread to another: Open() once, and Wait() returns once it is open
// (at once when it already is). Made of a mutex and a condition variable, which every platform's
// threads library keeps its promises with.
class Gate {
public:
    void Open() {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_open = true;
        }
        m_opened.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_opened.wait(lock, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_opened;
    bool m_open = false;
};

}  // namespace quillon
