#include <windows.h>

#include <filesystem>

#include "platform/file_replace.h"
#include "platform/system_error.h"
#include "platform/utf8_path.h"

namespace quillon {

bool ReplaceFileDurably(const std::string& path, const std::string& content, std::string& error) {
    const std::string temporary = path + ".new";
    const std::wstring temporaryName = PathFromUtf8(temporary).wstring();
    const HANDLE file = ::CreateFileW(temporaryName.c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = temporary + ": " + SystemErrorText(::GetLastError());
        return false;
    }
    DWORD written = 0;
    const bool ok =
        ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
        written == content.size() && ::FlushFileBuffers(file);
    const DWORD code = ::GetLastError();
    ::CloseHandle(file);
    if (!ok) {
        error = temporary + ": " + SystemErrorText(code);
        ::DeleteFileW(temporaryName.c_str());
        return false;
    }
    // Written through: the rename is on the disk when the call returns. A file that another
    // program (a virus scanner, an indexer) has open for a moment cannot be replaced: tried
    // again for up to a second.
    const std::wstring name = PathFromUtf8(path).wstring();
    for (int attempt = 0;; ++attempt) {
        if (::MoveFileExW(temporaryName.c_str(), name.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        const DWORD moveError = ::GetLastError();
        if ((moveError != ERROR_SHARING_VIOLATION && moveError != ERROR_ACCESS_DENIED) ||
            attempt == 20) {
            error = SystemErrorText(moveError);
            ::DeleteFileW(temporaryName.c_str());
            return false;
        }
        ::Sleep(50);
    }
}

}  // namespace quillon
