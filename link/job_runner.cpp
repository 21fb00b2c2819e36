#include "link/job_runner.h"

#include "link/port_channel.h"

namespace quillon {

JobRunner::JobRunner()
    : m_opener(PortOpener()),
      m_steadyClock(std::make_unique<SteadyClock>()),
      m_clock(*m_steadyClock) {}

JobRunner::JobRunner(Clock& clock) : m_opener(PortOpener()), m_clock(clock) {}

ChannelOpener JobRunner::PortOpener() {
    return [this](const LineSettings& line) {
        // The port's name as the request carries it, read here where it enters the link: a
        // malformed network port name cannot be opened (its reason says why).
        Result<PortAddress> address = ParsePortAddress(line.port);
        if (!address) {
            OpenedChannel refused;
            refused.reason = std::move(address).error().text;
            return refused;
        }
        // A network connect that still waits ends on the job's stop request too.
        return OpenPortChannel(
            *address, line, [this] { return m_jobStop.stop_requested(); }, m_env);
    };
}

JobRunner::JobRunner(ChannelOpener opener, Clock& clock)
    : m_opener(std::move(opener)), m_clock(clock) {}

JobRunner::~JobRunner() {
    RequestStop();
    Wait();
    m_session.channel.reset();
}

void JobRunner::Start(JobRequest request, JobEventSink& events) {
    Wait();
    m_request = std::move(request);
    m_thread = std::jthread([this, &events](std::stop_token stop) {
        m_jobStop = stop;
        RunJob(m_request, m_session, m_opener, m_clock, std::move(stop), events);
    });
}

void JobRunner::RequestStop() {
    if (m_thread.joinable()) {
        m_thread.request_stop();
    }
}

void JobRunner::Wait() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

}  // namespace quillon
