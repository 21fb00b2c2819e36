#include "tests/support/job_harness.h"

#include <chrono>
#include <thread>

JobHarness::JobHarness() {
    worker = BeginThread<CWorkerThread>(eraseAll);
    job.hWndOwner = &m_owner;
}

JobHarness::~JobHarness() {
    worker->PostThreadMessage(UM_QUIT, 0, 0);
    worker->WaitForEnd();
    while (auto message = m_owner.TryTake()) {
        DiscardPostedMessage(*message);
    }
    g_bStopJob = 1;
}

JobResult JobHarness::Initialize(const std::string& port, const std::string& monitorFile, int baud,
                                 int timeoutMs) {
    job.strPort = port;
    job.strFile = monitorFile;
    job.nBaudRate = baud;
    return Run(UM_INITIALIZE, UM_INIT_DONE, timeoutMs, true);
}

JobResult JobHarness::Download(const std::string& imageFile, int timeoutMs) {
    job.strFile = imageFile;
    return Run(UM_DOWNLOAD, UM_DOWNLOAD_DONE, timeoutMs, true);
}

JobResult JobHarness::DownloadAbortedBeforeStart(const std::string& imageFile) {
    job.strFile = imageFile;
    return Run(UM_DOWNLOAD, UM_DOWNLOAD_DONE, 30000, false);
}

JobResult JobHarness::InitializeAbortedBeforeStart(const std::string& port,
                                                   const std::string& monitorFile) {
    job.strPort = port;
    job.strFile = monitorFile;
    return Run(UM_INITIALIZE, UM_INIT_DONE, 30000, false);
}

JobResult JobHarness::Run(unsigned message, unsigned doneMessage, int timeoutMs, bool clearStop) {
    JobResult result;
    g_bStopJob = clearStop ? 0 : 1;
    worker->PostThreadMessage(message, 0, reinterpret_cast<LParam>(&job));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!result.done) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        auto next = m_owner.TakeFor(static_cast<std::uint32_t>(left.count()));
        if (!next) {
            continue;
        }
        if (next->message == UM_LOG_LINE) {
            result.log.push_back(*TakePostedString(next->lParam));
        } else if (next->message == UM_LOG_APPEND) {
            const auto text = TakePostedString(next->lParam);
            if (result.log.empty()) {
                result.log.push_back(*text);
            } else {
                result.log.back() += *text;
            }
        } else if (next->message == UM_PROGRESS) {
            result.progress.push_back(*next);
        } else if (next->message == doneMessage) {
            result.done = true;
            ++result.doneMessages;
            result.aborted = next->wParam;
            result.succeeded = next->lParam;
        }
    }
    g_bStopJob = 1;
    // Anything after the done message would be a fault: collect it for the test to see.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    while (auto late = m_owner.TryTake()) {
        if (late->message == UM_INIT_DONE || late->message == UM_DOWNLOAD_DONE) {
            ++result.doneMessages;
        } else if (late->message == UM_LOG_LINE || late->message == UM_LOG_APPEND) {
            result.log.push_back("LATE: " + *TakePostedString(late->lParam));
        }
    }
    return result;
}
