#include "app/version_info.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "quillon_version.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

// The loaded resource. Each platform supplies reading it from a file, its first translation
// and the lookup of a string entry by its query path.
struct CVersionInfo::Block {
    static std::unique_ptr<Block> Read(const QString& path);
    bool FirstTranslation(std::uint32_t* translation) const;
    QString FindString(const QString& query) const;

#ifdef Q_OS_WIN
    std::vector<unsigned char> bytes;
#else
    VersionResource resource;
#endif
};

#ifdef Q_OS_WIN

namespace {

const void* QueryValue(const std::vector<unsigned char>& bytes, const QString& query,
                       unsigned* size) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = query.toStdWString();
    if (!VerQueryValueW(bytes.data(), path.c_str(), &value, &length) || value == nullptr) {
        *size = 0;
        return nullptr;
    }
    *size = length;
    return value;
}

}  // namespace

std::unique_ptr<CVersionInfo::Block> CVersionInfo::Block::Read(const QString& path) {
    const std::wstring file = path.toStdWString();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &handle);
    if (size == 0) {
        return nullptr;
    }
    auto block = std::make_unique<Block>();
    block->bytes.resize(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, block->bytes.data())) {
        return nullptr;
    }
    return block;
}

bool CVersionInfo::Block::FirstTranslation(std::uint32_t* translation) const {
    unsigned size = 0;
    const auto* words = static_cast<const WORD*>(
        QueryValue(bytes, QStringLiteral("\\VarFileInfo\\Translation"), &size));
    if (words == nullptr || size < 2 * sizeof(WORD)) {
        return false;
    }
    *translation = (static_cast<std::uint32_t>(words[0]) << 16) | words[1];
    return true;
}

QString CVersionInfo::Block::FindString(const QString& query) const {
    unsigned size = 0;
    const auto* text = static_cast<const wchar_t*>(QueryValue(bytes, query, &size));
    // The size counts characters including the terminating NUL, which some files omit.
    qsizetype length = 0;
    while (text != nullptr && length < static_cast<qsizetype>(size) && text[length] != L'\0') {
        ++length;
    }
    return text != nullptr ? QString::fromWCharArray(text, length) : QString();
}

#else  // not Windows

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

#endif

CVersionInfo::CVersionInfo() = default;

CVersionInfo::~CVersionInfo() = default;

int CVersionInfo::Load(const QString& path) {
    Release();
    auto block = Block::Read(path.isEmpty() ? QCoreApplication::applicationFilePath() : path);
    std::uint32_t translation = 0;
    if (!block || !block->FirstTranslation(&translation)) {
        return 0;
    }
    m_pBlock = std::move(block);
    m_dwTranslation = translation;
    return 1;
}

QString CVersionInfo::GetString(const QString& key, std::uint32_t translation) const {
    if (!m_pBlock) {
        return QString();
    }
    const std::uint32_t chosen = translation != 0 ? translation : m_dwTranslation;
    return m_pBlock->FindString(
        QString::asprintf("\\StringFileInfo\\%08lx\\", static_cast<unsigned long>(chosen)) + key);
}

void CVersionInfo::Release() {
    m_pBlock.reset();
    m_dwTranslation = 0;
}
