#include "platform/child_process.h"

namespace quillon {

namespace {

// No event is that long; whatever it is, it is shown in pieces, not hoarded.
constexpr std::size_t kLongestLine = 64 * 1024;

}  // namespace

void ChildProcess::EndWithOwner() {
    if (Running()) {
        Kill();
        // Killed because its owner goes: its exit status tells nobody anything.
        static_cast<void>(Wait());
    }
    CloseFds();
}

void ChildProcess::TakeBytes(const char* bytes, std::size_t count,
                             std::vector<std::string>& lines) {
    m_partial.append(bytes, count);
    std::size_t start = 0;
    for (std::size_t end; (end = m_partial.find('\n', start)) != std::string::npos;
         start = end + 1) {
        std::string line = m_partial.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();  // a Windows program's stderr is in text mode
        }
        lines.push_back(std::move(line));
    }
    m_partial.erase(0, start);
    if (m_partial.size() > kLongestLine) {
        lines.push_back(m_partial);
        m_partial.clear();
    }
}

void ChildProcess::TakeRest(std::vector<std::string>& lines) {
    if (!m_partial.empty()) {
        lines.push_back(m_partial);
        m_partial.clear();
    }
}

}  // namespace quillon
