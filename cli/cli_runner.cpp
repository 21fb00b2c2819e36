#include "cli/cli_runner.h"

#include <chrono>
#include <memory>

#include "link/messages.h"
#include "link/serial_link.h"
#include "link/worker_thread.h"

std::atomic<int> g_abortRequested{0};

namespace {

struct JobOutcome {
    bool aborted = false;
    bool succeeded = false;
    std::string lastLine;  // the job's last log line
    double seconds = 0;
};

constexpr const char* kAbortedLine = "Aborted by user!";

// Starts one job the way the window does and shows what the worker posts until its done
// message.
JobOutcome RunJob(CWorkerThread& worker, MessageQueue& owner, JobParams& job, unsigned message,
                  unsigned doneMessage, CliConsole& console) {
    // Cleared first, then the abort request read: a signal that comes in between has set
    // both, and is seen here; one that comes later sets g_bStopJob itself.
    g_bStopJob = 0;
    if (g_abortRequested.load() != 0) {
        g_bStopJob = 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const auto seconds = [&start] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    worker.PostThreadMessage(message, 0, reinterpret_cast<LParam>(&job));
    std::string lastLine;
    for (;;) {
        const auto next = owner.Take();
        if (!next) {
            return {false, false, lastLine, seconds()};
        }
        switch (next->message) {
            case UM_LOG_LINE:
                lastLine = *TakePostedString(next->lParam);
                console.LogLine(lastLine);
                break;
            case UM_LOG_APPEND:
                console.LogAppend(*TakePostedString(next->lParam));
                break;
            case UM_PROGRESS:
                console.Progress(ProgressPhaseOf(next->wParam), ProgressDoneOf(next->wParam),
                                 static_cast<std::uint32_t>(next->lParam));
                break;
            default:
                if (next->message == doneMessage) {
                    g_bStopJob = 1;
                    JobOutcome outcome{next->wParam == 1, next->lParam == 1, lastLine, seconds()};
                    if (outcome.aborted) {
                        console.LogLine(kAbortedLine);
                        outcome.lastLine = kAbortedLine;
                    }
                    const std::string hint = PortOpenHint(lastLine, job.strPort);
                    if (!hint.empty()) {
                        console.Message("quillon-cli: " + hint);
                    }
                    return outcome;
                }
                DiscardPostedMessage(*next);
                break;
        }
    }
}

}  // namespace

int RunJobs(const CliOptions& options, const std::string& monitorFile, CliConsole& console,
            BoardOutcome* outcome) {
    BoardOutcome board;
    std::atomic<int> eraseAll{options.eraseAll ? 1 : 0};
    MessageQueue owner;
    auto worker = BeginThread<CWorkerThread>(eraseAll);
    JobParams job;
    job.hWndOwner = &owner;
    job.strPort = options.port;
    job.strFile = monitorFile;
    job.nBaudRate = options.baud;

    int status = kExitSuccess;
    const JobOutcome init = RunJob(*worker, owner, job, UM_INITIALIZE, UM_INIT_DONE, console);
    board.initSeconds = init.seconds;
    if (!init.succeeded) {
        board.failure = init.lastLine;
    }
    if (init.aborted) {
        status = kExitAborted;
    } else if (!init.succeeded) {
        status = kExitJobFailed;
    } else if (!options.initOnly) {
        if (g_abortRequested.load() != 0) {
            // Asked to stop between the jobs: the download never starts.
            console.LogLine(kAbortedLine);
            board.failure = kAbortedLine;
            status = kExitAborted;
        } else {
            job.strFile = options.image;
            const JobOutcome download =
                RunJob(*worker, owner, job, UM_DOWNLOAD, UM_DOWNLOAD_DONE, console);
            status = download.aborted ? kExitAborted
                                      : (download.succeeded ? kExitSuccess : kExitJobFailed);
            board.downloadSeconds = download.seconds;
            if (!download.succeeded) {
                board.failure = download.lastLine;
            }
        }
    }

    worker->PostThreadMessage(UM_QUIT, 0, 0);
    worker->WaitForEnd();
    owner.Close();
    while (const auto left = owner.TryTake()) {
        DiscardPostedMessage(*left);
    }
    console.Finish();
    if (outcome != nullptr) {
        *outcome = board;
    }
    return status;
}
