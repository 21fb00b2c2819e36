#include <windows.h>

#include <algorithm>

#include "platform/regular_file.h"
#include "platform/system_error.h"
#include "platform/utf8_path.h"

namespace quillon {

namespace {

FileReadResult Unreadable(DWORD code) {
    return UnreadableFileRead(SystemErrorText(code));
}

struct Handle {
    HANDLE handle;
    ~Handle() { ::CloseHandle(handle); }
};

}  // namespace

FileReadResult ReadRegularFile(const std::string& path, std::size_t limit) {
    const std::wstring name = PathFromUtf8(path).wstring();
    // FILE_FLAG_BACKUP_SEMANTICS lets a folder open too, so that it is named as one.
    const HANDLE handle =
        ::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            return FailedFileRead(FileReadError::kMissing, "does not exist");
        }
        return Unreadable(code);
    }
    const Handle file{handle};
    BY_HANDLE_FILE_INFORMATION information{};
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        return FailedFileRead(FileReadError::kNotRegular, "is not a regular file");
    }
    if (!::GetFileInformationByHandle(handle, &information)) {
        return Unreadable(::GetLastError());
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return FailedFileRead(FileReadError::kNotRegular, "is a folder");
    }
    const unsigned long long size =
        (static_cast<unsigned long long>(information.nFileSizeHigh) << 32) |
        information.nFileSizeLow;
    if (size > limit) {
        return TooLargeFileRead(limit);
    }
    FileReadResult result;
    result.linkCount = information.nNumberOfLinks;
    // The size said is only a hint: the file may grow while it is read.
    result.content.resize(static_cast<std::size_t>(size) + 1);
    std::size_t length = 0;
    for (;;) {
        if (length == result.content.size()) {
            if (length > limit) {
                return TooLargeFileRead(limit);
            }
            result.content.resize(std::min(limit + 1, length * 2 + 4096));
        }
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(result.content.size() - length, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(handle, result.content.data() + length, chunk, &got, nullptr)) {
            return Unreadable(::GetLastError());
        }
        if (got == 0) {
            break;
        }
        length += got;
    }
    if (length > limit) {
        return TooLargeFileRead(limit);
    }
    result.content.resize(length);
    return result;
}

}  // namespace quillon
