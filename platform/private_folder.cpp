#include "platform/private_folder.h"

#include <filesystem>
#include <system_error>

#include "platform/utf8_path.h"

namespace quillon {

PrivateFolder::~PrivateFolder() {
    if (!m_path.empty()) {
        std::error_code ignored;  // a folder that cannot be removed is left to the system
        std::filesystem::remove_all(PathFromUtf8(m_path), ignored);
    }
}

}  // namespace quillon
