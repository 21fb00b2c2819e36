#include "link/worker_thread.h"

#include "link/download_job.h"
#include "link/initialize_job.h"

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
    InitializeJob(*job, m_link, m_header, g_bStopJob).Run();
}

void CWorkerThread::OnDownload(WParam, LParam lParam) {
    const auto* job = reinterpret_cast<const JobParams*>(lParam);
    DownloadJob(*job, m_link, m_header, m_eraseAll, g_bStopJob).Run();
}
