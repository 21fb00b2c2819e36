#include "platform/wait_set.h"

#include "platform/console.h"

namespace quillon {

int WaitSet::StopRequests() const {
    return StopRequestCount() - m_stopRequestsBefore;
}

bool WaitSet::TakeInput(std::vector<std::string>& lines) {
    if (!m_watchInput) {
        return false;
    }
    const bool more = ReadInput();
    for (std::size_t end; (end = m_partial.find('\n')) != std::string::npos;) {
        lines.push_back(m_partial.substr(0, end));
        m_partial.erase(0, end + 1);
    }
    m_partial = m_partial.substr(0, 256);  // no line of the operator's is that long
    if (!more) {
        m_watchInput = false;
    }
    return more;
}

}  // namespace quillon
