#include "winapp/window_message_target.h"

#include "link/messages.h"

CWindowMessageTarget::CWindowMessageTarget(HWND window)
    : m_window(window), m_jobDone(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CWindowMessageTarget::~CWindowMessageTarget() {
    if (m_jobDone != nullptr) {
        ::CloseHandle(m_jobDone);
    }
}

bool CWindowMessageTarget::Post(unsigned message, WParam wParam, LParam lParam) {
    bool posted = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_window != nullptr) {
            posted = ::PostMessageW(m_window, message, static_cast<WPARAM>(wParam),
                                    static_cast<LPARAM>(lParam)) != FALSE;
        }
    }
    // After the post: a window that sees the event set finds the message queued already.
    if ((message == UM_INIT_DONE || message == UM_DOWNLOAD_DONE) && m_jobDone != nullptr) {
        ::SetEvent(m_jobDone);
    }
    return posted;
}

void CWindowMessageTarget::Detach() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_window = nullptr;
}

void CWindowMessageTarget::ResetJobDone() {
    if (m_jobDone != nullptr) {
        ::ResetEvent(m_jobDone);
    }
}

bool CWindowMessageTarget::JobDone() const {
    return m_jobDone != nullptr && ::WaitForSingleObject(m_jobDone, 0) == WAIT_OBJECT_0;
}
