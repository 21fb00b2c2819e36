#include "production/production_engine.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "production/production_run_state.h"

namespace quillon {

// The run and the thread it works in.
struct ProductionEngine::Impl {
    Impl(ProductionSetup setup, ProductionEvents& events, SystemEnv& env)
        : run(std::move(setup), events, env) {}

    ProductionRunState run;
    std::thread thread;
    mutable std::mutex mutex;
    std::condition_variable ended;
    bool started = false;
    bool finished = false;
};

ProductionEngine::ProductionEngine(ProductionSetup setup, ProductionEvents& events, SystemEnv& env)
    : m_impl(std::make_unique<Impl>(std::move(setup), events, env)) {}

ProductionEngine::~ProductionEngine() {
    if (m_impl->thread.joinable()) {
        if (!Finished()) {
            Abort();
        }
        m_impl->thread.join();
    }
}

void ProductionEngine::Start() {
    {
        const std::lock_guard<std::mutex> lock(m_impl->mutex);
        if (m_impl->started) {
            return;
        }
        m_impl->started = true;
    }
    m_impl->thread = std::thread([impl = m_impl.get()] {
        impl->run.Run();
        const std::lock_guard<std::mutex> lock(impl->mutex);
        impl->finished = true;
        impl->ended.notify_all();
    });
}

void ProductionEngine::NextBoard() {
    m_impl->run.NextBoard();
}

void ProductionEngine::Stop() {
    m_impl->run.Stop();
}

void ProductionEngine::Abort() {
    m_impl->run.Abort();
}

bool ProductionEngine::Finished() const {
    const std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->finished;
}

bool ProductionEngine::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_impl->mutex);
    return m_impl->ended.wait_for(lock, timeout, [this] {
        return m_impl->finished || !m_impl->started;
    }) && m_impl->finished;
}

void ProductionEngine::Wait() {
    std::unique_lock<std::mutex> lock(m_impl->mutex);
    m_impl->ended.wait(lock, [this] { return m_impl->finished || !m_impl->started; });
}

ProductionTotals ProductionEngine::Totals() const {
    return m_impl->run.Totals();
}

}  // namespace quillon
