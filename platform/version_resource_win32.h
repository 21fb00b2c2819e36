#pragma once

// Windows only: included by the Win32 skin and its tests alone.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "helpers/result.h"

namespace quillon {

// The version resource of a program file, read with the Win32 version API (Unicode calls, so
// that any path works; paths and texts are UTF-8 here).
class Win32VersionResource {
public:
    // Reads the whole version resource of `path`; an error when the file cannot be read or
    // has none. What was read before is dropped either way.
    [[nodiscard]] Status Read(const std::string& path);
    bool IsLoaded() const { return !m_block.empty(); }

    // The first entry of "\VarFileInfo\Translation": language in the high 16 bits, code page
    // in the low 16 bits. None when the resource has no translation.
    std::optional<std::uint32_t> FirstTranslation() const;

    // The text of the string entry at `query` (for example
    // "\StringFileInfo\040704b0\ProductVersion"); empty when it does not exist.
    std::string FindString(const std::string& query) const;

private:
    std::vector<unsigned char> m_block;
};

}  // namespace quillon
