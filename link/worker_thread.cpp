#include "link/worker_thread.h"

namespace {

const MessageMapEntry<CWorkerThread> kMessageMap[] = {
    {UM_INITIALIZE, &CWorkerThread::OnInitialize},
    {UM_DOWNLOAD, &CWorkerThread::OnDownload},
    {UM_QUIT, &CWorkerThread::OnQuit},
};

}  // namespace

CWorkerThread::CWorkerThread(const std::atomic<int>& eraseAll) : m_eraseAll(eraseAll) {}

CWorkerThread::~CWorkerThread() = default;

bool CWorkerThread::DispatchThreadMessage(unsigned message, WParam wParam, LParam lParam) {
    return DispatchFromMessageMap(*this, kMessageMap, message, wParam, lParam);
}

void CWorkerThread::OnQuit(WParam, LParam) {
    m_link.ClosePort();
    PostQuitMessage(0);
}

void CWorkerThread::OnInitialize(WParam, LParam lParam) {
    const auto* job = reinterpret_cast<const JobParams*>(lParam);
    PostLogLine(job->hWndOwner, "Initialize is not available in this build.");
    job->hWndOwner->Post(UM_INIT_DONE, 0, 0);
}

void CWorkerThread::OnDownload(WParam, LParam lParam) {
    const auto* job = reinterpret_cast<const JobParams*>(lParam);
    (void)m_eraseAll;
    PostLogLine(job->hWndOwner, "Start Download is not available in this build.");
    job->hWndOwner->Post(UM_DOWNLOAD_DONE, 0, 0);
}
