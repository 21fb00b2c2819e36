#include "window/log_lines.h"

namespace quillon {

LogLines::Change LogLines::Add(const std::string& text) {
    m_lines.push_back(text);
    return {m_lines.size() - 1, text, false};
}

LogLines::Change LogLines::AppendToLast(const std::string& text) {
    if (m_lines.empty()) {
        return Add(text);
    }
    std::string& last = m_lines.back();
    last += text;
    return {m_lines.size() - 1, last, true};
}

std::string LogLines::Last() const {
    return m_lines.empty() ? std::string() : m_lines.back();
}

}  // namespace quillon
