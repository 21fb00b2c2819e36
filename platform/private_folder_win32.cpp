#include <windows.h>

#include <cstdio>
#include <random>

#include "platform/private_folder.h"
#include "platform/system_error.h"
#include "platform/utf16_text.h"

namespace quillon {

Status PrivateFolder::Create(const std::string& prefix) {
    // The user's own temporary folder, which other users cannot enter.
    wchar_t base[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, base);
    if (length == 0 || length > MAX_PATH) {
        return Fail(ErrorKind::kNotFound,
                    "no folder for temporary files (" + SystemErrorText(::GetLastError()) + ")");
    }
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
        const std::wstring path = std::wstring(base) + Utf16FromUtf8(prefix + suffix);
        if (::CreateDirectoryW(path.c_str(), nullptr)) {
            m_path = Utf8FromUtf16(path);
            return {};
        }
        if (const DWORD code = ::GetLastError(); code != ERROR_ALREADY_EXISTS) {
            return Fail(ErrorKind::kIo, Utf8FromUtf16(base) + ": " + SystemErrorText(code));
        }
    }
    return Fail(ErrorKind::kExists, Utf8FromUtf16(base) + ": no free name for a folder");
}

}  // namespace quillon
