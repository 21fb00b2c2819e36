#pragma once

#include <functional>
#include <memory>
#include <thread>

namespace quillon {

// In a station's program: the production run that started it holds the other end of its
// standard input and closes it to ask for an abort; the same happens when the run ends in any
// way, even killed. A thread waits in the kernel for that end and then calls `onClosed` once.
// Whatever comes through the input before is read and dropped.
class ParentWatch {
public:
    explicit ParentWatch(std::function<void()> onClosed);
    // Ends and joins the thread.
    ~ParentWatch();
    ParentWatch(const ParentWatch&) = delete;
    ParentWatch& operator=(const ParentWatch&) = delete;

private:
    // How the thread is told to end.
    struct Impl;

    void Watch();

    std::function<void()> m_onClosed;
    std::unique_ptr<Impl> m_impl;
    std::thread m_thread;
};

}  // namespace quillon
