#pragma once

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "window/production_runner.h"

namespace quillon {

// A production run that a test plays instead of the line's engine: it writes down what the
// view asked of it, in order ("start", "next", "stop", "abort"), answers Start with
// `startResult`, and keeps where the run's events go for the test to make them. After
// PlayPreparation, a run that started is made ready until a Stop or an Abort ends it, as the
// engine's runner ends a stopped preparation: the run's end, without a board, through its events.
// The view may call it from another thread than the test's.
class PlayedProductionRun {
public:
    std::vector<std::string> Calls() const {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    long Count(const std::string& call) const {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return std::count(m_calls.begin(), m_calls.end(), call);
    }
    void SetStartResult(Status result) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_startResult = std::move(result);
    }
    void PlayPreparation() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_playPreparation = true;
    }
    // Where the run's events go: none until a window made its runner.
    ProductionEvents* events() const { return m_events.load(); }

    // A runner that plays this run, for a controller.
    std::unique_ptr<ProductionRunner> Runner() { return std::make_unique<Played>(*this); }
    // The factory a window makes its runner with.
    ProductionRunnerFactory Factory() {
        return [this](ProductionEvents& events) {
            m_events = &events;
            return Runner();
        };
    }

private:
    struct Played : ProductionRunner {
        explicit Played(PlayedProductionRun& run) : m_run(run) {}
        Status Start(const CheckedProductionSetup&) override {
            m_run.Add("start");
            const std::lock_guard<std::mutex> lock(m_run.m_mutex);
            m_preparing = m_run.m_playPreparation && m_run.m_startResult;
            return m_run.m_startResult;
        }
        void NextBoard() override { m_run.Add("next"); }
        void Stop() override { EndPreparation("stop"); }
        void Abort() override { EndPreparation("abort"); }
        void EndPreparation(const char* call) {
            m_run.Add(call);
            if (std::exchange(m_preparing, false) && m_run.events() != nullptr) {
                m_run.events()->OnRunEnded({});
            }
        }
        bool m_preparing = false;
        PlayedProductionRun& m_run;
    };
    void Add(const char* call) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(call);
    }

    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
    Status m_startResult;
    bool m_playPreparation = false;
    std::atomic<ProductionEvents*> m_events{nullptr};
};

}  // namespace quillon
