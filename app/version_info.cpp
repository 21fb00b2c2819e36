#include "app/version_info.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "quillon_version.h"

namespace quillon {

// The loaded resource: only the program's own file has one, compiled in from the build.
struct CVersionInfo::Block {
    static std::unique_ptr<Block> Read(const QString& path);
    bool FirstTranslation(std::uint32_t* translation) const;
    QString FindString(const QString& query) const;

    VersionResource resource;
};

namespace {

const VersionResource& CompiledInResource() {
    static const VersionResource resource = [] {
        VersionResource r;
        r.translations.emplace_back(QUILLON_VERSION_LANGUAGE, QUILLON_VERSION_CODE_PAGE);
        const QString block = QString::asprintf(
            "\\StringFileInfo\\%04x%04x\\", QUILLON_VERSION_LANGUAGE, QUILLON_VERSION_CODE_PAGE);
        r.strings[block + "ProductVersion"] = QStringLiteral(QUILLON_PRODUCT_VERSION);
        r.strings[block + "LegalCopyright"] = QStringLiteral(QUILLON_LEGAL_COPYRIGHT);
        r.strings[block + "LegalTrademarks"] = QStringLiteral(QUILLON_LEGAL_TRADEMARKS);
        return r;
    }();
    return resource;
}

const VersionResource* g_programResource = &CompiledInResource();

}  // namespace

const VersionResource* ProgramVersionResource() {
    return g_programResource;
}

const VersionResource* SetProgramVersionResource(const VersionResource* resource) {
    const VersionResource* previous = g_programResource;
    g_programResource = resource;
    return previous;
}

std::unique_ptr<CVersionInfo::Block> CVersionInfo::Block::Read(const QString& path) {
    // Only the program's own file carries a resource here.
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    if (g_programResource == nullptr || program.isEmpty() ||
        QFileInfo(path).canonicalFilePath() != program) {
        return nullptr;
    }
    auto block = std::make_unique<Block>();
    block->resource = *g_programResource;
    return block;
}

bool CVersionInfo::Block::FirstTranslation(std::uint32_t* translation) const {
    if (resource.translations.empty()) {
        return false;
    }
    const auto& [language, codePage] = resource.translations.front();
    *translation = (static_cast<std::uint32_t>(language) << 16) | codePage;
    return true;
}

QString CVersionInfo::Block::FindString(const QString& query) const {
    const auto found = resource.strings.find(query);
    return found != resource.strings.end() ? found->second : QString();
}

CVersionInfo::CVersionInfo() = default;

CVersionInfo::~CVersionInfo() = default;

int CVersionInfo::Load(const QString& path) {
    Release();
    auto block = Block::Read(path.isEmpty() ? QCoreApplication::applicationFilePath() : path);
    std::uint32_t translation = 0;
    if (!block || !block->FirstTranslation(&translation)) {
        return 0;
    }
    m_block = std::move(block);
    m_translation = translation;
    return 1;
}

QString CVersionInfo::GetString(const QString& key, std::uint32_t translation) const {
    if (!m_block) {
        return QString();
    }
    const std::uint32_t chosen = translation != 0 ? translation : m_translation;
    return m_block->FindString(
        QString::asprintf("\\StringFileInfo\\%08lx\\", static_cast<unsigned long>(chosen)) + key);
}

void CVersionInfo::Release() {
    m_block.reset();
    m_translation = 0;
}

}  // namespace quillon
