#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "window/job_starter.h"

namespace quillon {

// What a window asked of FakeJobs, shared with the test, which outlives the window.
struct FakeJobRecord {
    std::mutex mutex;  // the window's thread starts jobs, the test's thread reads
    std::vector<JobRequest> requests;
    int stops = 0;
    JobEventSink* events = nullptr;  // where the last job's events go (the window's)
};

// Jobs that do not run by themselves: a test plays their part, feeding their events to
// `record->events` from its own thread as a job thread would.
class FakeJobs : public JobStarter {
public:
    explicit FakeJobs(std::shared_ptr<FakeJobRecord> record) : m_record(std::move(record)) {}

    void Start(JobRequest request, JobEventSink& events) override {
        std::lock_guard<std::mutex> lock(m_record->mutex);
        m_record->requests.push_back(std::move(request));
        m_record->events = &events;
    }
    void RequestStop() override {
        std::lock_guard<std::mutex> lock(m_record->mutex);
        ++m_record->stops;
    }

private:
    std::shared_ptr<FakeJobRecord> m_record;
};

}  // namespace quillon
