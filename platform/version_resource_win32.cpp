#ifdef _WIN32

#include "platform/version_resource_win32.h"

#include <windows.h>

#include "platform/system_error.h"
#include "platform/utf16_text.h"

namespace quillon {

Status Win32VersionResource::Read(const std::string& path) {
    m_block.clear();
    const std::wstring file = Utf16FromUtf8(path);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) {
        return Fail(ErrorKind::kNotFound, path + ": " + SystemErrorText(::GetLastError()));
    }
    std::vector<unsigned char> block(size);
    if (!::GetFileVersionInfoW(file.c_str(), 0, size, block.data())) {
        return Fail(ErrorKind::kIo, path + ": " + SystemErrorText(::GetLastError()));
    }
    m_block = std::move(block);
    return {};
}

std::optional<std::uint32_t> Win32VersionResource::FirstTranslation() const {
    if (m_block.empty()) {
        return std::nullopt;
    }
    void* value = nullptr;
    UINT bytes = 0;
    // The query takes a non-const block pointer but only reads it.
    auto* block = const_cast<unsigned char*>(m_block.data());
    if (!::VerQueryValueW(block, L"\\VarFileInfo\\Translation", &value, &bytes) ||
        value == nullptr || bytes < 2 * sizeof(WORD)) {
        return std::nullopt;
    }
    const auto* words = static_cast<const WORD*>(value);
    return (static_cast<std::uint32_t>(words[0]) << 16) | words[1];
}

std::string Win32VersionResource::FindString(const std::string& query) const {
    if (m_block.empty()) {
        return std::string();
    }
    void* value = nullptr;
    UINT chars = 0;
    auto* block = const_cast<unsigned char*>(m_block.data());
    if (!::VerQueryValueW(block, Utf16FromUtf8(query).c_str(), &value, &chars) ||
        value == nullptr) {
        return std::string();
    }
    // The length counts characters, the terminator included where the file has one.
    const auto* text = static_cast<const wchar_t*>(value);
    std::size_t length = 0;
    while (length < chars && text[length] != L'\0') {
        ++length;
    }
    return Utf8FromUtf16(text, length);
}

}  // namespace quillon

#endif  // _WIN32
