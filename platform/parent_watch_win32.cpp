#include <windows.h>

#include <atomic>
#include <chrono>

#include "platform/parent_watch.h"

namespace quillon {

namespace {

// How often the thread looks at the input pipe: an abort is seen this much later at most.
constexpr auto kLookInterval = std::chrono::milliseconds(50);

}  // namespace

struct ParentWatch::Impl {
    std::atomic<bool> stop{false};  // a pipe cannot be waited for: the thread looks
};

ParentWatch::ParentWatch(std::function<void()> onClosed)
    : m_onClosed(std::move(onClosed)), m_impl(std::make_unique<Impl>()) {
    m_thread = std::thread([this] { Watch(); });
}

ParentWatch::~ParentWatch() {
    m_impl->stop = true;
    m_thread.join();
}

void ParentWatch::Watch() {
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    while (!m_impl->stop) {
        DWORD available = 0;
        if (!::PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) {
            m_onClosed();  // closed, or no pipe at all: no run holds it
            return;
        }
        char buffer[256];
        DWORD got = 0;
        if (available > 0) {
            ::ReadFile(input, buffer, available < sizeof buffer ? available : sizeof buffer, &got,
                       nullptr);
        }
        std::this_thread::sleep_for(kLookInterval);
    }
}

}  // namespace quillon
