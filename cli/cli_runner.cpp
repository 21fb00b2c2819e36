#include "cli/cli_runner.h"

#include <chrono>
#include <memory>

#include "link/messages.h"
#include "link/serial_link.h"
#include "link/worker_thread.h"
#include "platform/debug_channel.h"
#include "platform/message_box.h"

std::atomic<int> g_abortRequested{0};

namespace {

struct JobOutcome {
    bool aborted = false;
    bool succeeded = false;
    std::string failure;  // why it did not succeed; empty when it did
    double seconds = 0;
};

constexpr const char* kAbortedLine = "Aborted by user!";
// A message of the file reader, posted by the worker among its log lines so that their order
// is kept: lParam a std::string* as with UM_LOG_LINE.
constexpr unsigned kReaderMessage = kWmApp + 32;

void Discard(const QueuedMessage& message) {
    if (message.message == kReaderMessage) {
        TakePostedString(message.lParam);
    } else {
        DiscardPostedMessage(message);
    }
}

// Starts one job the way the window does and shows what the worker posts until its done
// message. `jobName` names the job where it failed without a line of its own.
JobOutcome RunJob(CWorkerThread& worker, MessageQueue& owner, JobParams& job, unsigned message,
                  unsigned doneMessage, const char* jobName, CliConsole& console) {
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
    console.SetMessageSubject(job.strFile);
    const MessageBoxHandler shown = SetMessageBoxHandler([&owner](const std::string& text) {
        auto copy = std::make_unique<std::string>(text);
        if (owner.Post(kReaderMessage, 0, reinterpret_cast<LParam>(copy.get()))) {
            copy.release();
        }
    });
    worker.PostThreadMessage(message, 0, reinterpret_cast<LParam>(&job));
    std::string lastLine;
    std::string lastMessage;  // the reader's, when nothing was logged after it
    JobOutcome outcome;
    for (;;) {
        const auto next = owner.Take();
        if (!next) {
            outcome.failure = lastLine.empty() ? std::string(jobName) + " failed" : lastLine;
            break;
        }
        if (next->message == UM_LOG_LINE) {
            lastLine = *TakePostedString(next->lParam);
            lastMessage.clear();
            console.LogLine(lastLine);
        } else if (next->message == UM_LOG_APPEND) {
            console.LogAppend(*TakePostedString(next->lParam));
        } else if (next->message == kReaderMessage) {
            lastMessage = *TakePostedString(next->lParam);
            console.ReaderMessage(lastMessage);
        } else if (next->message == UM_PROGRESS) {
            console.Progress(ProgressPhaseOf(next->wParam), ProgressDoneOf(next->wParam),
                             static_cast<std::uint32_t>(next->lParam));
        } else if (next->message == doneMessage) {
            g_bStopJob = 1;
            outcome.aborted = next->wParam == 1;
            outcome.succeeded = next->lParam == 1;
            if (outcome.aborted) {
                console.LogLine(kAbortedLine);
                outcome.failure = kAbortedLine;
            } else if (!outcome.succeeded) {
                // A file that could not be read ends the job without a line of its own: the
                // reader said why. A job never fails without a reason given.
                outcome.failure = !lastMessage.empty() ? lastMessage
                                  : !lastLine.empty()  ? lastLine
                                                       : std::string(jobName) + " failed";
            }
            const std::string hint = PortOpenHint(lastLine, job.strPort);
            if (!hint.empty()) {
                console.Message("quillon-cli: " + hint);
            }
            break;
        } else {
            Discard(*next);
        }
    }
    SetMessageBoxHandler(shown);
    console.SetMessageSubject({});
    outcome.seconds = seconds();
    return outcome;
}

}  // namespace

int RunJobs(const CliOptions& options, const std::string& monitorFile, CliConsole& console,
            BoardOutcome* outcome, const std::function<void()>& onDownloadStart) {
    BoardOutcome board;
    std::atomic<int> eraseAll{options.eraseAll ? 1 : 0};
    MessageQueue owner;
    // Partial answers of the target, each a line of its own.
    const DebugTextHandler debugShown =
        SetDebugTextHandler([&console](const std::string& text) { console.Debug(text); });
    auto worker = BeginThread<CWorkerThread>(eraseAll);
    JobParams job;
    job.hWndOwner = &owner;
    job.strPort = options.port;
    job.strFile = monitorFile;
    job.nBaudRate = options.baud;

    int status = kExitSuccess;
    const JobOutcome init =
        RunJob(*worker, owner, job, UM_INITIALIZE, UM_INIT_DONE, "Initialize", console);
    board.initSeconds = init.seconds;
    board.failure = init.failure;
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
            if (onDownloadStart) {
                onDownloadStart();
            }
            job.strFile = options.image;
            const JobOutcome download = RunJob(*worker, owner, job, UM_DOWNLOAD, UM_DOWNLOAD_DONE,
                                               "Start Download", console);
            status = download.aborted ? kExitAborted
                                      : (download.succeeded ? kExitSuccess : kExitJobFailed);
            board.downloadSeconds = download.seconds;
            board.failure = download.failure;
        }
    }

    worker->PostThreadMessage(UM_QUIT, 0, 0);
    worker->WaitForEnd();
    owner.Close();
    while (const auto left = owner.TryTake()) {
        Discard(*left);
    }
    SetDebugTextHandler(debugShown);
    console.Finish();
    if (outcome != nullptr) {
        *outcome = board;
    }
    return status;
}
