#include "platform/append_only_file.h"

#include <algorithm>
#include <string>

namespace quillon {

void AppendOnlyFile::LineScan::Feed(const char* bytes, std::size_t count) {
    for (const char* end = bytes + count; bytes != end;) {
        const char* lineEnd = std::find(bytes, end, '\n');
        if (!m_tooLong) {
            const std::size_t piece = static_cast<std::size_t>(lineEnd - bytes);
            m_tooLong = m_line.size() + piece > kLongestScannedLine;
            if (m_tooLong) {
                std::string().swap(m_line);
            } else {
                m_line.append(bytes, piece);
            }
        }
        if (lineEnd == end) {
            return;
        }
        if (!m_tooLong) {
            m_onLine(m_line);
        }
        m_line.clear();
        m_tooLong = false;
        bytes = lineEnd + 1;
    }
}

}  // namespace quillon
