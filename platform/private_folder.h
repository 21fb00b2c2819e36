#pragma once

#include <string>

#include "helpers/result.h"

namespace quillon {

// A folder of the program's own among the system's temporary files that only this user may
// enter (POSIX: made with mode 0700 in one step; Windows: in the user's own temporary folder),
// so that what the program puts there cannot be replaced by anyone else. It is removed, with
// everything in it, when the object ends.
class PrivateFolder {
public:
    PrivateFolder() = default;
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    // Makes the folder, its name starting with `prefix`. An error saying why when it cannot be
    // made.
    [[nodiscard]] Status Create(const std::string& prefix);
    // Its path (UTF-8); empty until Create succeeded.
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace quillon
