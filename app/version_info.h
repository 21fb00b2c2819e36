#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "helpers/result.h"

namespace quillon {

// The version resource of the program, as its build carries it (the Windows window reads real
// version resources with platform/version_resource_win32): the translations of
// "\VarFileInfo\Translation" and every string entry under the query path by which it is found, for
// example
// "\StringFileInfo\040704b0\ProductVersion".
struct VersionResource {
    std::vector<std::pair<std::uint16_t, std::uint16_t>> translations;  // language, code page
    std::map<QString, QString> strings;
};

// The resource that this program's file carries: the values compiled in from the build
// (product version, copyright, trademarks, translation 0407/04B0), or nullptr for none.
const VersionResource* ProgramVersionResource();
// Replaces it (nullptr: the program carries none) and returns the previous one; for tests.
const VersionResource* SetProgramVersionResource(const VersionResource* resource);

// Reads string entries from a program file's version resource: only the program's own file has
// one, compiled in.
class VersionInfo {
public:
    VersionInfo();
    ~VersionInfo();
    VersionInfo(const VersionInfo&) = delete;
    VersionInfo& operator=(const VersionInfo&) = delete;

    // Loads the version resource of `path` (empty: the program's own file) and its first
    // translation; an error of kind kNotFound when the file has no resource or no translation.
    Status Load(const QString& path = QString());

    // The string entry `key` of `translation` (language in the high 16 bits, code page in the
    // low 16 bits; 0 for the loaded one), or an empty text when nothing is loaded or the
    // entry does not exist.
    QString GetString(const QString& key, std::uint32_t translation = 0) const;

    QString GetProductVersion() const { return GetString(QStringLiteral("ProductVersion")); }
    QString GetLegalCopyright() const { return GetString(QStringLiteral("LegalCopyright")); }
    QString GetLegalTrademarks() const { return GetString(QStringLiteral("LegalTrademarks")); }

    // Frees the resource; afterwards nothing is loaded. Safe when nothing is.
    void Release();

    std::uint32_t Translation() const { return m_translation; }

private:
    struct Block;

    std::unique_ptr<Block> m_block;
    std::uint32_t m_translation = 0;
};

}  // namespace quillon
