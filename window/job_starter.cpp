#include "window/job_starter.h"

#include "link/job_runner.h"
#include "platform/clock.h"

namespace quillon {

namespace {

class RunnerJobStarter : public JobStarter {
public:
    RunnerJobStarter() = default;
    explicit RunnerJobStarter(ChannelOpener opener) : m_runner(std::move(opener), m_clock) {}

    void Start(JobRequest request, JobEventSink& events) override {
        m_runner.Start(std::move(request), events);
    }
    void RequestStop() override { m_runner.RequestStop(); }

private:
    SteadyClock m_clock;  // before the runner, which uses it until its end
    JobRunner m_runner;
};

}  // namespace

std::unique_ptr<JobStarter> MakeJobRunner(ChannelOpener opener) {
    if (!opener) {
        return std::make_unique<RunnerJobStarter>();
    }
    return std::make_unique<RunnerJobStarter>(std::move(opener));
}

}  // namespace quillon
