#include "link/job_session.h"

#include "link/download_job.h"
#include "link/initialize_job.h"

namespace quillon {

namespace {

template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

}  // namespace

void RunJob(const JobRequest& request, JobSession& session, const ChannelOpener& opener,
            Clock& clock, std::stop_token stop, JobEventSink& events) {
    std::visit(Overloaded{
                   [&](const InitializeRequest& initialize) {
                       InitializeJob(initialize, request.line, session, opener, clock,
                                     std::move(stop), events, request.timeouts)
                           .Run();
                   },
                   [&](const DownloadRequest& download) {
                       DownloadJob(download, session, clock, std::move(stop), events,
                                   request.timeouts)
                           .Run();
                   },
               },
               request.job);
}

}  // namespace quillon
