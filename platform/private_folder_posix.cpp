#include <errno.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/private_folder.h"
#include "platform/utf8_path.h"

namespace quillon {

Status PrivateFolder::Create(const std::string& prefix) {
    std::error_code failed;
    const std::filesystem::path base = std::filesystem::temp_directory_path(failed);
    if (failed) {
        return Fail(ErrorKind::kNotFound,
                    "no folder for temporary files (" + failed.message() + ")");
    }
    // mkdtemp makes the folder with mode 0700 under a name nobody had: nothing can be put
    // into it before it is private.
    const std::string pattern = Utf8FromPath(base / (prefix + "XXXXXX"));
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) {
        return Fail(ErrorKind::kIo, Utf8FromPath(base) + ": " + std::strerror(errno));
    }
    m_path = name.data();
    return {};
}

}  // namespace quillon
