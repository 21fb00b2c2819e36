#include "production/station_image_copy.h"

#include <cerrno>
#include <cstring>

#include "helpers/text_format.h"
#include "platform/utf8_path.h"

namespace quillon {

Status StationImageCopy::Open() {
    if (const Status created = m_folder.Create("quillon-run-"); !created) {
        return Failed(created.error().text);
    }
    m_path = Utf8FromPath(PathFromUtf8(m_folder.path()) / "image.hex");
    m_file.open(PathFromUtf8(m_path), std::ios::binary | std::ios::trunc);
    return m_file ? Status() : Failed(m_path + ": " + std::strerror(errno));
}

void StationImageCopy::Write(const std::uint8_t* bytes, std::size_t count) {
    if (m_file &&
        !m_file.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count))) {
        m_error = std::strerror(errno);
    }
}

Status StationImageCopy::Close() {
    m_file.close();
    if (m_file.fail() && m_error.empty()) {
        m_error = std::strerror(errno);
    }
    return m_error.empty() ? Status() : Failed(m_path + ": " + m_error);
}

Status StationImageCopy::Failed(const std::string& why) {
    return Fail(ErrorKind::kIo, "the image cannot be handed to the stations (" +
                                    EscapeForTerminal(why, false) + ")");
}

}  // namespace quillon
