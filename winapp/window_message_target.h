#pragma once

#include <windows.h>

#include <mutex>

#include "platform/message_target.h"

// Where the worker posts to reach the main window: each Post is a PostMessageW to the window,
// from any thread, without blocking. A post that fails (the window's queue is full or the
// window is gone) returns false, so the sender keeps, and frees, what it posted. Once detached
// (the window is being destroyed) every post fails: none reaches a dead window handle, or
// another window that got the same handle later.
//
// Besides, the target notes the end of each job: a job's done message (UM_INIT_DONE or
// UM_DOWNLOAD_DONE) sets JobDoneEvent(), whether or not the message reached the window. A
// window that closed while its job ran waits on it before it ends the worker.
class CWindowMessageTarget : public MessageTarget {
public:
    explicit CWindowMessageTarget(HWND window);
    ~CWindowMessageTarget() override;
    CWindowMessageTarget(const CWindowMessageTarget&) = delete;
    CWindowMessageTarget& operator=(const CWindowMessageTarget&) = delete;

    bool Post(unsigned message, WParam wParam, LParam lParam) override;

    // After this no post reaches the window. Safe to call more than once.
    void Detach();

    // Before a job is handed to the worker: its done message has not come yet.
    void ResetJobDone();
    // Signalled once the worker posted the running job's done message (a manual-reset event
    // owned by the target).
    HANDLE JobDoneEvent() const { return m_jobDone; }
    bool JobDone() const;

private:
    std::mutex m_mutex;  // a post and Detach never overlap
    HWND m_window;
    HANDLE m_jobDone;
};
