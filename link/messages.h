#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/message_queue.h"
#include "platform/message_target.h"

// The messages between the window (or the command-line front end) and the worker thread.
constexpr unsigned kWmApp = 0x8000;
constexpr unsigned UM_INITIALIZE = kWmApp + 1;     // to the worker: wParam 0, lParam &JobParams
constexpr unsigned UM_INIT_DONE = kWmApp + 2;      // wParam 1 = aborted, lParam 1 = monitor runs
constexpr unsigned UM_DOWNLOAD = kWmApp + 3;       // to the worker: wParam 0, lParam &JobParams
constexpr unsigned UM_DOWNLOAD_DONE = kWmApp + 4;  // wParam 1 = aborted, lParam 1 = succeeded
constexpr unsigned UM_QUIT = kWmApp + 5;           // to the worker: wParam 0, lParam 0
constexpr unsigned UM_LOG_LINE = kWmApp + 6;       // lParam: std::string*, a new log line
constexpr unsigned UM_LOG_APPEND = kWmApp + 7;  // lParam: std::string*, appended to the last line
// Progress of the running phase: wParam = phase << 28 | bytes done, lParam = bytes total.
// 28 bits hold every count a job can reach (16 MB is 2^24) even where a WParam has 32 bits.
// Posted at most every 100 ms and once at the end of the phase; it carries nothing to free.
constexpr unsigned UM_PROGRESS = kWmApp + 8;

enum class ProgressPhase : unsigned {
    kMonitorUpload = 1,  // the monitor's bytes, each echoed by the target
    kProgramming = 2,    // the image's bytes in 128-byte blocks
};

constexpr unsigned kProgressPhaseShift = 28;
constexpr std::uint32_t kProgressDoneMask = (1u << kProgressPhaseShift) - 1;

constexpr WParam MakeProgressWParam(ProgressPhase phase, std::uint32_t done) {
    return (static_cast<WParam>(phase) << kProgressPhaseShift) | (done & kProgressDoneMask);
}
constexpr ProgressPhase ProgressPhaseOf(WParam wParam) {
    return static_cast<ProgressPhase>((wParam >> kProgressPhaseShift) & 0xFu);
}
constexpr std::uint32_t ProgressDoneOf(WParam wParam) {
    return static_cast<std::uint32_t>(wParam & kProgressDoneMask);
}

// The job record. It belongs to the window; the worker reads it through the address that
// comes with UM_INITIALIZE / UM_DOWNLOAD and never copies it. The window leaves it alone from
// posting a job until that job's done message has arrived.
struct JobParams {
    MessageTarget* hWndOwner = nullptr;  // receives every message the worker posts
    std::string strPort = "COM1";        // port name as the port list shows it
    std::string strFile;                 // monitor file (Initialize) or image file (Download)
    std::int32_t nBaudRate = 57600;
};

// 1 while no job runs or once the operator asked to abort; 0 while a job runs. Written by the
// window, read fresh by the worker at each poll point.
extern std::atomic<int> g_bStopJob;

// Post a copy of `text` as a new log line / as text appended to the last log line. The string
// belongs to the receiver once the post succeeded; when it fails it is freed here.
bool PostLogLine(MessageTarget* owner, const std::string& text);
bool PostLogAppend(MessageTarget* owner, const std::string& text);

// The receiver's side: takes ownership of the string a UM_LOG_LINE / UM_LOG_APPEND carries.
std::unique_ptr<std::string> TakePostedString(LParam lParam);

// Frees what a message that will never be handled owns (the strings of the log messages).
void DiscardPostedMessage(const QueuedMessage& message);
