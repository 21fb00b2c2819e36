#include <windows.h>

#include <algorithm>

#include "platform/regular_file.h"
#include "platform/system_error.h"
#include "platform/utf8_path.h"

namespace quillon {

namespace {

Unexpected<Error> Unreadable(DWORD code) {
    return UnreadableFileRead(SystemErrorText(code));
}

struct Handle {
    HANDLE handle;
    ~Handle() { ::CloseHandle(handle); }
};

}  // namespace

FileRead ReadRegularFile(const std::string& path, std::size_t limit) {
    const std::wstring name = PathFromUtf8(path).wstring();
    // FILE_FLAG_BACKUP_SEMANTICS lets a folder open too, so that it is named as one.
    const HANDLE handle =
        ::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            return Fail(ErrorKind::kNotFound, "does not exist");
        }
        return Unreadable(code);
    }
    const Handle file{handle};
    BY_HANDLE_FILE_INFORMATION information{};
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        return Fail(ErrorKind::kUnsupported, "is not a regular file");
    }
    if (!::GetFileInformationByHandle(handle, &information)) {
        return Unreadable(::GetLastError());
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Fail(ErrorKind::kUnsupported, "is a folder");
    }
    const unsigned long long size =
        (static_cast<unsigned long long>(information.nFileSizeHigh) << 32) |
        information.nFileSizeLow;
    return ReadWithinLimit(
        static_cast<std::size_t>(std::min<unsigned long long>(size, limit + 1ull)), limit,
        information.nNumberOfLinks, [handle](char* into, std::size_t room) -> Result<std::size_t> {
            DWORD n = 0;
            if (!::ReadFile(handle, into, static_cast<DWORD>(std::min<std::size_t>(room, 1u << 30)),
                            &n, nullptr)) {
                return Fail(ErrorKind::kIo, SystemErrorText(::GetLastError()));
            }
            return static_cast<std::size_t>(n);
        });
}

}  // namespace quillon
