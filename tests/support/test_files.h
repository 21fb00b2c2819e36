#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quillon {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    // Writes `content` byte for byte to `name` inside the folder and returns its full path.
    std::string Write(const std::string& name, const std::string& content) const;

private:
    std::filesystem::path m_path;
};

}  // namespace quillon
