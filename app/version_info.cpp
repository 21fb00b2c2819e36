#include "app/version_info.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <optional>

#include "quillon_version.h"

namespace quillon {

// The loaded resource: only the program's own file has one, compiled in from the build.
struct VersionInfo::Block {
    static std::unique_ptr<Block> Read(const QString& path);
    // Language in the high 16 bits, code page in the low 16 bits; none without a translation.
    std::optional<std::uint32_t> FirstTranslation() const;
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

std::unique_ptr<VersionInfo::Block> VersionInfo::Block::Read(const QString& path) {
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

std::optional<std::uint32_t> VersionInfo::Block::FirstTranslation() const {
    if (resource.translations.empty()) {
        return std::nullopt;
    }
    const auto& [language, codePage] = resource.translations.front();
    return (static_cast<std::uint32_t>(language) << 16) | codePage;
}

QString VersionInfo::Block::FindString(const QString& query) const {
    const auto found = resource.strings.find(query);
    return found != resource.strings.end() ? found->second : QString();
}

VersionInfo::VersionInfo() = default;

VersionInfo::~VersionInfo() = default;

Status VersionInfo::Load(const QString& path) {
    Release();
    const QString file = path.isEmpty() ? QCoreApplication::applicationFilePath() : path;
    auto block = Block::Read(file);
    if (!block) {
        return Fail(ErrorKind::kNotFound, file.toStdString() + " has no version resource");
    }
    const std::optional<std::uint32_t> translation = block->FirstTranslation();
    if (!translation) {
        return Fail(ErrorKind::kNotFound, file.toStdString() + " has no version translation");
    }
    m_block = std::move(block);
    m_translation = *translation;
    return {};
}

QString VersionInfo::GetString(const QString& key, std::uint32_t translation) const {
    if (!m_block) {
        return QString();
    }
    const std::uint32_t chosen = translation != 0 ? translation : m_translation;
    return m_block->FindString(
        QString::asprintf("\\StringFileInfo\\%08lx\\", static_cast<unsigned long>(chosen)) + key);
}

void VersionInfo::Release() {
    m_block.reset();
    m_translation = 0;
}

}  // namespace quillon
