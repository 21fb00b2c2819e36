#include <windows.h>

#include <filesystem>

#include "platform/file_replace.h"
#include "platform/system_error.h"
#include "platform/utf8_path.h"

namespace quillon {

Status ReplaceFileDurably(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".new";
    const std::wstring temporaryName = PathFromUtf8(temporary).wstring();
    const HANDLE file = ::CreateFileW(temporaryName.c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return Fail(ErrorKind::kIo, temporary + ": " + SystemErrorText(::GetLastError()));
    }
    DWORD written = 0;
    const bool ok =
        ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
        written == content.size() && ::FlushFileBuffers(file);
    const DWORD code = ::GetLastError();
    ::CloseHandle(file);
    if (!ok) {
        ::DeleteFileW(temporaryName.c_str());
        return Fail(ErrorKind::kIo, temporary + ": " + SystemErrorText(code));
    }
    // Written through: the rename is on the disk when the call returns. A file that another
    // program (a virus scanner, an indexer) has open for a moment cannot be replaced: tried
    // again for up to a second.
    const std::wstring name = PathFromUtf8(path).wstring();
    for (int attempt = 0;; ++attempt) {
        if (::MoveFileExW(temporaryName.c_str(), name.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return {};
        }
        const DWORD moveError = ::GetLastError();
        if ((moveError != ERROR_SHARING_VIOLATION && moveError != ERROR_ACCESS_DENIED) ||
            attempt == 20) {
            ::DeleteFileW(temporaryName.c_str());
            return Fail(ErrorKind::kIo, SystemErrorText(moveError));
        }
        ::Sleep(50);
    }
}

}  // namespace quillon
