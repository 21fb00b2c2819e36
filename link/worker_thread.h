#pragma once

#include <atomic>

#include "image/monitor_header.h"
#include "link/messages.h"
#include "link/serial_link.h"
#include "platform/message_thread.h"

// The worker thread: runs every job and all serial traffic, so the window stays responsive
// while a job waits on the port. It takes one job at a time from its message queue and
// answers only with posted messages: log lines, appended text and one done message per job.
class CWorkerThread : public MessageThread {
public:
    // `eraseAll` is the owner's "Erase all sectors" setting; the download job reads it fresh
    // while it erases.
    explicit CWorkerThread(const std::atomic<int>& eraseAll);
    ~CWorkerThread() override;

    // UM_INITIALIZE: open the port, bring the target from its bootstrap loader to the monitor.
    void OnInitialize(WParam wParam, LParam lParam);
    // UM_DOWNLOAD: erase, program and finalize the flash.
    void OnDownload(WParam wParam, LParam lParam);
    // UM_QUIT: close the port and end the message loop.
    void OnQuit(WParam wParam, LParam lParam);

    // The monitor header copy of the last accepted monitor file (172 bytes).
    MonitorHeader m_header{};
    // The port (m_hComm) and the 1024-byte I/O buffer (m_buffer).
    SerialLink m_link{m_header};

protected:
    bool InitInstance() override { return true; }
    int ExitInstance() override { return MessageThread::ExitInstance(); }
    bool DispatchThreadMessage(unsigned message, WParam wParam, LParam lParam) override;

private:
    const std::atomic<int>& m_eraseAll;
};
