#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "link/messages.h"
#include "link/worker_thread.h"

// What a job told its owner, as the window would show it.
struct JobResult {
    std::vector<std::string> log;  // lines, with appended text joined to its line
    bool done = false;             // exactly one done message came
    WParam aborted = 0;
    LParam succeeded = 0;
    int doneMessages = 0;
    std::vector<QueuedMessage> progress;  // UM_PROGRESS messages, in order
};

// A worker thread with an owner queue, driven the way the window drives it.
class JobHarness {
public:
    JobHarness();
    ~JobHarness();

    // Starts a job as the window does (flag cleared, record filled, message posted) and
    // collects what comes back until its done message (or `timeoutMs`).
    JobResult Initialize(const std::string& port, const std::string& monitorFile, int baud = 57600,
                         int timeoutMs = 60000);
    JobResult Download(const std::string& imageFile, int timeoutMs = 120000);

    // Posts the job but leaves the abort flag set, as if Cancel came before the worker
    // picked it up.
    JobResult DownloadAbortedBeforeStart(const std::string& imageFile);
    JobResult InitializeAbortedBeforeStart(const std::string& port, const std::string& monitorFile);

    std::atomic<int> eraseAll{0};
    JobParams job;
    ThreadPtr<CWorkerThread> worker;

private:
    JobResult Run(unsigned message, unsigned doneMessage, int timeoutMs, bool clearStop);
    MessageQueue m_owner;
};
